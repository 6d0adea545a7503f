#include "../../upgrade/InstalledSites.h"
#include "../../package/ForcedExit.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <map>

using Test::W;

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// An uninstall entry written the way an installation writes one.
struct Entry {
    Entry(const std::wstring& name) : key(HKEY_LOCAL_MACHINE, kUninstall + L"\\" + name) {}
    Test::ScopedRegKey key;
};

std::map<std::wstring, InstalledSite*> ByName(InstalledSiteList& sites)
{
    std::map<std::wstring, InstalledSite*> m;
    for (std::size_t i = 0; i < sites.size(); ++i)
        m[W(sites[i].siteName)] = &sites[i];
    return m;
}

} // namespace

TEST_CASE("site names from installation directories: the installer and the package's programs agree")
{
    struct Row {
        const wchar_t* dir;
        const wchar_t* site;
        bool valid; // whether the name may be installed (what -site= accepts)
    };
    const Row rows[] = {
        {L"C:\\Apps\\Quendal-Office\\", L"Quendal-Office", true},
        {L"C:\\Apps\\quendal-office", L"Quendal-office", true},
        {L"C:\\Apps\\Quendal", L"Quendal", true},
        {L"C:\\Apps\\Office", L"Quendal", true},
        {L"C:\\Apps\\QuendalX", L"Quendal", true},
        {L"Quendal-Office", L"Quendal", true},
        {L"\\\\server\\share\\Quendal-A", L"Quendal-A", true},
        // The prefix alone is a site of its own, never the default site's
        // service taken over; and no site may be installed there.
        {L"C:\\X\\Quendal-", L"Quendal-", false},
        {L"C:\\X\\QUENDAL-\\", L"Quendal-", false},
        {L"C:\\X\\Quendal-CON", L"Quendal-CON", true},
        {L"C:\\X\\Quendal-a ", L"Quendal-a ", false},
    };
    for (const Row& row : rows) {
        CAPTURE(Test::Narrow(row.dir));
        CHECK(W(SiteNameFromDir(row.dir)) == row.site);
        CHECK(Package::SiteOfDirectory(row.dir) == row.site);
        CHECK(IsValidSiteName(row.site) == row.valid);
    }
}

TEST_CASE("installed sites are found from their uninstall entries")
{
    Entry plain(L"Quendal");
    plain.key.SetString(L"Version", L"5.10");
    plain.key.SetString(L"InstallDir", L"C:\\Old\\Place");
    plain.key.SetString(L"UninstallString", L"\"C:\\Program Files\\Korvane Quendal\\uninst.exe\" Quendal ");
    Entry upper(L"QUENDAL-x");
    upper.key.SetString(L"Version", L"5.18");
    Entry office(L"Quendal-Office");
    office.key.SetString(L"Version", L"5.17");
    office.key.SetString(L"InstallDir", L"C:\\Q\\Quendal-Office");
    office.key.SetString(L"UninstallString", L"\"C:\\Q\\Quendal-Office\\uninst.exe\" Quendal-Office ");
    Entry lookalike(L"QuendalX");
    lookalike.key.SetString(L"Version", L"1.0");
    Entry other(L"Other");
    other.key.SetString(L"Version", L"1.0");
    Entry unquoted(L"Quendal-Unquoted");
    unquoted.key.SetString(L"Version", L"5.18");
    unquoted.key.SetString(L"InstallDir", L"C:\\U");
    unquoted.key.SetString(L"UninstallString", L"C:\\U\\uninst.exe Quendal-Unquoted");
    Entry noVersion(L"Quendal-NoVersion");
    noVersion.key.SetString(L"InstallDir", L"C:\\N");
    Entry noUninstall(L"Quendal-NoUninstall");
    noUninstall.key.SetString(L"Version", L"5.18");
    noUninstall.key.SetString(L"InstallDir", L"C:\\N");
    Entry bare(L"Quendal-Bare");
    bare.key.SetString(L"Version", L"5.18");
    bare.key.SetString(L"InstallDir", L"C:\\B");
    bare.key.SetString(L"UninstallString", L"\"uninst.exe\"");
    Entry wrongType(L"Quendal-Dword");
    wrongType.key.SetDword(L"Version", 518);

    InstalledSiteList sites = FindInstalledSites(L"Quendal");
    auto found = ByName(sites);
    std::wstring names;
    for (const auto& f : found)
        names += f.first + L";";
    CHECK(Test::Narrow(names) == "QUENDAL-x;Quendal;Quendal-Office;");
    REQUIRE(found.count(L"Quendal"));
    REQUIRE(found.count(L"QUENDAL-x"));
    REQUIRE(found.count(L"Quendal-Office"));
    // The uninstaller's own directory wins over the InstallDir text.
    CHECK(found[L"Quendal"]->installDir == L"C:\\Program Files\\Korvane Quendal");
    CHECK(found[L"Quendal"]->version == L"5.10");
    CHECK(found[L"QUENDAL-x"]->installDir == L"");
    CHECK(found[L"Quendal-Office"]->installDir == L"C:\\Q\\Quendal-Office");

    CHECK(ReadSiteUninstallValue(L"Quendal-Office", L"Version") == L"5.17");
    CHECK(ReadSiteUninstallValue(L"Quendal-Office", L"Missing") == L"");
    CHECK(ReadSiteUninstallValue(L"Quendal-Dword", L"Version") == L"");
    CHECK(ReadSiteUninstallValue(L"Quendal-Nobody", L"Version") == L"");
}

TEST_CASE("no uninstall key at all gives no sites")
{
    // Renaming the key away is not possible through the API; a product that no
    // entry matches stands for the empty machine.
    CHECK(FindInstalledSites(L"QuendalTestNobody").size() == 0);
}
