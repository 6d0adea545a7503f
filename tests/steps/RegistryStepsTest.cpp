#include "../../steps/InstallSettings.h"
#include "../../steps/ProductKey.h"
#include "../../steps/RegisterUninstaller.h"
#include "../../wwlib/CReg.h"
#include "../../wwlib/Product.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/RunMode.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include <cwchar>
#include <sddl.h>
#include <doctest/doctest.h>
#include <algorithm>
#include <vector>

using Test::W;
using Lines = std::vector<std::wstring>;

namespace {

const std::wstring kEntry = std::wstring(kUninstallKey) + L"\\Quendal-Test";

// The values of a key, in the order the registry lists them.
std::vector<std::pair<std::wstring, std::wstring>> Values(const std::wstring& key)
{
    std::vector<std::pair<std::wstring, std::wstring>> values;
    HKEY h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &h))
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[2048];
        DWORD nameLen = 256, dataSize = sizeof(data), type = 0;
        if (RegEnumValueW(h, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize))
            break;
        if (type == REG_DWORD) {
            DWORD number = 0;
            memcpy(&number, data, sizeof(number));
            values.emplace_back(name, L"dword:" + std::to_wstring(number));
            continue;
        }
        CHECK(type == REG_SZ);
        CHECK(dataSize % 2 == 0);
        CHECK(data[dataSize / 2 - 1] == L'\0'); // stored with its terminating zero
        values.emplace_back(name, data);
    }
    RegCloseKey(h);
    return values;
}

// YYYYMMDD, local time.
std::wstring Today()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

// The entry's InstallDate, which is the day the step ran (either side of a
// midnight that fell while it ran).
std::wstring InstallDate(const std::vector<std::pair<std::wstring, std::wstring>>& values, const std::wstring& before,
                         const std::wstring& after)
{
    for (const auto& v : values)
        if (v.first == L"InstallDate") {
            CHECK((v.second == before || v.second == after));
            return v.second;
        }
    return L"(none)";
}

std::vector<BYTE> DaclBytes(HKEY key)
{
    std::vector<BYTE> sd(65536);
    DWORD size = static_cast<DWORD>(sd.size());
    REQUIRE(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, sd.data(), &size) == 0);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted);
    if (!present || !dacl)
        return {};
    const BYTE* p = reinterpret_cast<const BYTE*>(dacl);
    return std::vector<BYTE>(p, p + dacl->AclSize);
}

} // namespace

TEST_CASE("the uninstall entry")
{
    Test::ScopedRegKey cleanup(HKEY_LOCAL_MACHINE, kEntry);
    Test::RunMode mode(false);
    InstallSettings& settings = TheInstallSettings();
    settings.installDir = L"C:\\Sites\\Quendal-Test";
    settings.uninstallerPath = L"C:\\Sites\\Quendal-Test\\uninst.exe";
    settings.uninstallParams = L" -feedback=yes";
    Test::ConsoleCapture console;

    SUBCASE("values in order, replacing an older entry whole, which a rollback gives back")
    {
        Test::ScopedRegKey older(HKEY_LOCAL_MACHINE, kEntry);
        older.SetString(L"Publisher", L"an older installation");
        older.Sub(L"Child");
        {
            const std::wstring dayBefore = Today();
            RegisterUninstaller step(L"Quendal-Test", L"Korvane Quendal-Test 5.18 (remove only)", L"Quendal", L"5.18",
                                     5432);
            const std::wstring dayAfter = Today();
            std::wstring params = L" -feedback=yes \"-delRegKey=HKEY_LOCAL_MACHINE\\" + kEntry + L"\"";
            CHECK(W(TheInstallSettings().uninstallParams) == params);
            auto values = Values(kEntry);
            decltype(values) expected = {
                {L"DisplayName", L"Korvane Quendal-Test 5.18 (remove only)"},
                {L"DisplayIcon", L"C:\\Sites\\Quendal-Test\\uninst.exe"},
                {L"UninstallString", L"\"C:\\Sites\\Quendal-Test\\uninst.exe\" Quendal-Test "},
                {L"UninstallParam", params},
                {L"InstallDir", L"C:\\Sites\\Quendal-Test"},
                {L"ProductName", L"Quendal"},
                {L"Version", L"5.18"},
                // What Windows' program list and deployment tools read.
                {L"DisplayVersion", L"5.18"},
                {L"Publisher", L"Korvane"},
                {L"InstallLocation", L"C:\\Sites\\Quendal-Test"},
                {L"QuietUninstallString", L"\"C:\\Sites\\Quendal-Test\\uninst.exe\" Quendal-Test -unat"},
                {L"InstallDate", InstallDate(Values(kEntry), dayBefore, dayAfter)},
                {L"EstimatedSize", L"dword:5432"},
                {L"NoModify", L"dword:1"},
                {L"NoRepair", L"dword:1"},
                {L"URLInfoAbout", L"http://www.example.com/quendal"},
            };
            // Wine lists values by name, not in the order they were written.
            auto join = [](decltype(values) v) {
                std::sort(v.begin(), v.end());
                std::wstring s;
                for (const auto& e : v)
                    s += e.first + L"=" + e.second + L"\n";
                return Test::Narrow(s);
            };
            CHECK(join(values) == join(expected));
            HKEY child;
            CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kEntry + L"\\Child").c_str(), 0, KEY_READ, &child) != 0);
        }
        CHECK(console.Lines() == Lines{L"Registering uninstaller", L"Rollback: unregistering uninstaller",
                                       L"Rollback: restoring the previous uninstall entry " + kEntry});
        // The older installation keeps its entry's values (not its subkeys).
        CHECK(Values(kEntry) == decltype(Values(kEntry)){{L"Publisher", L"an older installation"}});
    }
    SUBCASE("committed: the entry stays")
    {
        {
            RegisterUninstaller step(L"Quendal-Test", L"D", L"Quendal", L"5.18");
            step.Commit();
        }
        // The seven values of the format, and eight more; no size given, none written.
        CHECK(Values(kEntry).size() == 15);
        CHECK(console.Lines() == Lines{L"Registering uninstaller"});
    }
}

TEST_CASE("the product key takes the DACL of SOFTWARE only when it is new")
{
    Test::ScopedRegKey cleanup(HKEY_LOCAL_MACHINE, kProductKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    HKEY software;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, READ_CONTROL, &software) == 0);
    std::vector<BYTE> softwareDacl = DaclBytes(software);
    RegCloseKey(software);

    SUBCASE("a new key")
    {
        CreateProductKey();
        HKEY key;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, READ_CONTROL, &key) == 0);
        CHECK(DaclBytes(key) == softwareDacl);
        RegCloseKey(key);
    }
    SUBCASE("an existing key keeps its own")
    {
        HKEY key;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr) == 0);
        PSECURITY_DESCRIPTOR own = nullptr;
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;BA)(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                     &own, nullptr));
        REQUIRE(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, own) == 0);
        LocalFree(own);
        std::vector<BYTE> before = DaclBytes(key);
        REQUIRE(before != softwareDacl);
        CreateProductKey();
        CHECK(DaclBytes(key) == before);
        RegCloseKey(key);
    }
    CHECK(console.Lines() == Lines{L"Creating Korvane registry key"});
}

TEST_CASE("the product key policy")
{
    auto outcome = [](const wchar_t* text, bool opened, bool admin, bool adminHint, bool power) {
        try {
            ReportProductKeyFailure(text, opened, admin, adminHint, power);
        } catch (const SilentExit& e) {
            return e.Code();
        }
        return -1;
    };
    SUBCASE("unattended")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(outcome(L"RegCreateKeyEx() failed: Access is denied.\r\n", false, false, false, false) == 106);
        CHECK(outcome(L"RegSetKeySecurity() failed: Access is denied.", true, false, false, true) == 106);
        CHECK(outcome(L"RegGetKeySecurity() failed: Access is denied.", true, true, true, false) == 106);
        CHECK(console.Lines() ==
              Lines{L"Creating Korvane registry key failed; RegCreateKeyEx() failed: Access is denied; try running "
                    L"installer as Power User, aborting",
                    L"Setting access control for Korvane registry key failed; RegSetKeySecurity() failed: Access is "
                    L"denied; try running installer as Administrator, aborting",
                    L"Setting access control for Korvane registry key failed; RegGetKeySecurity() failed: Access is "
                    L"denied, aborting"});
    }
    SUBCASE("an administrator with -force goes on after a warning")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        CHECK(outcome(L"RegSetKeySecurity() failed: Access is denied.", true, true, true, false) == -1);
        CHECK(console.Lines() == Lines{L"Warning: Setting access control for Korvane registry key failed; "
                                       L"RegSetKeySecurity() failed: Access is denied"});
        console.Clear();
        CHECK(outcome(L"X failed: Y.", false, false, false, false) == 106); // -force is not enough
    }
    SUBCASE("interactive")
    {
        Test::RunMode mode(true);
        Test::ConsoleCapture console;
        {
            Test::MessageBoxAnswerer yes(L"Creating Korvane Registry Key Failed", IDYES);
            CHECK(outcome(L"RegSetKeySecurity() failed: Access is denied.", true, true, true, false) == -1);
            CHECK(yes.Texts() == Lines{L"Setting access control for Korvane registry key failed.\nRegSetKeySecurity() "
                                       L"failed: Access is denied.\nContinuing installation is not recommended. Do "
                                       L"you want to continue anyway?"});
        }
        {
            Test::MessageBoxAnswerer no(L"Creating Korvane Registry Key Failed", IDNO);
            CHECK(outcome(L"X failed: Y.", false, true, true, false) == 106);
        }
        CHECK(console.Lines() == Lines{L"Installation canceled by user (creating registry key failed)"});
        {
            Test::MessageBoxAnswerer ok(L"Creating Korvane Registry Key Failed", IDOK);
            CHECK(outcome(L"X failed: Y.", false, false, false, true) == 106);
            CHECK(ok.Texts() == Lines{L"Creating Korvane registry key failed.\nX failed: Y.\nTry running installer "
                                      L"as Administrator.\n"});
        }
    }
}
