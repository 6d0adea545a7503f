#include "InstalledSites.h"
#include "../wwlib/Product.h"
#include "../wwlib/ProgramIdentity.h"
#include "../wwlib/SiteName.h"
#include "../steps/TargetDirectory.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/CReg.h"
#include "../wwlib/InstallError.h"
#include "../nocrtlib/NoCrtCompare.h"

using namespace WWLib;

namespace {

WString SiteKey(const WString& siteName)
{
    return PathJoin(kUninstallKey, siteName);
}

// Reads one site's record; throws on anything missing or inconsistent.
InstalledSite ReadSite(const WString& siteName)
{
    InstalledSite site;
    site.siteName = siteName;
    WString key = SiteKey(siteName);
    CRegRead<1>(key, L"Version", site.version);
    WString installDir;
    CRegRead<0> dir(key, L"InstallDir", installDir);
    if (dir.Failed())
        return site;
    WString uninstall;
    CRegRead<1>(key, L"UninstallString", uninstall);
    if (uninstall.empty() || uninstall[0] != L'"')
        throw InstallError(L"Invalid uninstallation data.");
    std::size_t close = uninstall.find(L'"', 1);
    WString uninstaller = uninstall.substr(1, close == WString::npos ? WString::npos : close - 1);
    // A path without any directory cannot tell where the site lives.
    WString head = SplitAtLast(uninstaller, L'\\').head;
    if (head.empty() || uninstaller.find(L'\\') == WString::npos)
        throw InstallError(L"Invalid uninstallation data.");
    site.installDir = head;
    return site;
}

} // namespace

bool IsSiteOfProduct(const WString& productName, const WString& name)
{
    if (name.size() == productName.size())
        return StartsWithNoCase(name, productName);
    return StartsWithNoCase(name, productName + L"-");
}

WString SiteNameFromDir(const WString& installDir)
{
    std::size_t start = 0;
    std::size_t len = SiteName::SuffixOfDirectory(installDir.c_str(), installDir.size(), start);
    return WString(SiteName::kProduct) + installDir.substr(start, len);
}

bool IsValidSiteName(const WString& name)
{
    return SiteName::IsValid(name.c_str(), name.size());
}

namespace {

// Whether a folder holds nothing, or something of this product: a folder
// with another program's files in it is no site's, whatever an entry says.
bool EmptyOrThisProducts(const WString& dir)
{
    for (const wchar_t* program : {L"uninst.exe", L"Quendal.exe"}) {
        WString company, product;
        try {
            if (ReadVersionNames(PathJoin(dir, program), company, product) && company == Product::kMaker &&
                product == Product::kName)
                return true;
        } catch (const std::exception&) {
            // Unreadable: not this product's.
        }
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(PathJoin(dir, L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    bool empty = true;
    do {
        WString name = fd.cFileName;
        empty = name == L"." || name == L"..";
    } while (empty && FindNextFileW(h, &fd));
    FindClose(h);
    return empty;
}

} // namespace

WString OwnDirectoryOf(const InstalledSite& site)
{
    if (site.installDir.empty() || !EqualNoCase(SiteNameFromDir(site.installDir), site.siteName) ||
        !EmptyOrThisProducts(site.installDir))
        return WString();
    return site.installDir;
}

InstalledSiteList FindInstalledSites(const WString& productName)
{
    InstalledSiteList sites;
    WStringList names;
    try {
        CRegList<1> list(kUninstallKey);
        list.List(names);
    } catch (const WException&) {
        return sites;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!IsSiteOfProduct(productName, names[i]))
            continue;
        try {
            sites.emplace_back(ReadSite(names[i]));
        } catch (const WException&) {
            // An unreadable or inconsistent entry is simply not a site.
        }
    }
    return sites;
}

WString ReadSiteUninstallValue(const WString& siteName, const WString& valueName)
{
    WString value;
    CRegRead<0> read(SiteKey(siteName), valueName, value);
    if (read.Failed())
        return WString();
    return value;
}
