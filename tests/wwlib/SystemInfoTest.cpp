#include "../../wwlib/DllLoader.h"
#include "../../wwlib/SystemError.h"
#include "../../wwlib/SystemInfo.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>

using namespace WWLib;
using Test::W;

TEST_CASE("versions compare field by field")
{
    CHECK(AtLeast(kWindows2000, VersionTriple{2, 6, 0}));
    CHECK(AtLeast(kWindows2000, VersionTriple{2, 5, 0}));
    CHECK_FALSE(AtLeast(kWindows2000, VersionTriple{1, 4, 90}));
    CHECK_FALSE(AtLeast(kWindows2000, VersionTriple{2, 4, 9}));
    CHECK(AtLeast(kWindows2000, VersionTriple{3, 0, 0}));

    VersionTriple v = WindowsVersion();
    CHECK(v.first == VER_PLATFORM_WIN32_NT);
    CHECK(WindowsVersion() == FreshWindowsVersion());
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&info);
#pragma GCC diagnostic pop
    CHECK(v.second == info.dwMajorVersion);
    CHECK(v.third == info.dwMinorVersion);
}

TEST_CASE("the shell version from the Internet Explorer key")
{
    SUBCASE("parsing the registry values")
    {
        CHECK(ParseShellVersion(L"6.0.2900.2180", nullptr, nullptr) == VersionTriple{6, 0, 2900});
        CHECK(ParseShellVersion(nullptr, L"103", L"1200") == VersionTriple{4, 70, 1200});
        CHECK(ParseShellVersion(nullptr, L"103", nullptr) == VersionTriple{4, 70, 1155});
        CHECK(ParseShellVersion(nullptr, L"101", nullptr) == VersionTriple{4, 40, 308});
        CHECK(ParseShellVersion(nullptr, L"102", L"99") == VersionTriple{4, 40, 520});
        CHECK(ParseShellVersion(nullptr, L"999", nullptr) == VersionTriple{0, 0, 0});
    }
    SUBCASE("read from this machine's registry")
    {
        HKEY h;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0, KEY_QUERY_VALUE,
                              &h) == 0);
        wchar_t buf[80] = {};
        DWORD size = sizeof(buf) - 2;
        LONG r = RegQueryValueExW(h, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(h);
        REQUIRE(r == 0);
        CHECK(ShellVersion() == ParseShellVersion(buf, nullptr, nullptr));
        CHECK(ShellFolderApiAvailable());
    }
}

TEST_CASE("IsWow64 and the module path")
{
    BOOL wow = !Test::UnderWow64();
    CHECK(IsWow64(GetCurrentProcess(), &wow));
    CHECK(wow == Test::UnderWow64());
    // Known independently: a 32-bit process on a 64-bit processor's Windows.
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    const bool nativeIs64 = native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    CHECK(static_cast<bool>(wow) == (sizeof(void*) == 4 && nativeIs64));
    SetLastError(0);
    CHECK_FALSE(IsWow64(GetCurrentProcess(), nullptr));
    CHECK(GetLastError() == ERROR_INVALID_PARAMETER);

    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    CHECK(W(ModulePath()) == std::wstring(path, n));
}

TEST_CASE("CPathMakeAbs")
{
    Test::TempDir dir;
    wchar_t old[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old);
    REQUIRE(SetCurrentDirectoryW(dir.Path().c_str()));
    WString out(L"untouched");
    CPathMakeAbs<0> abs(out, L"relative\\name.txt");
    SetCurrentDirectoryW(old);
    CHECK(abs.Succeeded());
    CHECK(W(out) == dir.Path() + L"\\relative\\name.txt");

    WString kept(L"untouched");
    CPathMakeAbs<0> bad(kept, L"");
    CHECK(bad.Failed());
    CHECK(W(kept) == L"untouched");
    CHECK(std::wstring(bad.Name().p) == L"GetFullPathNameW()");
}

TEST_CASE("run-time binding of system functions")
{
    SUBCASE("a function the library exports")
    {
        Kernel32Dll k;
        wchar_t volume[MAX_PATH] = {};
        CHECK(k.GetVolumePathNameW(L"C:\\windows\\system32", volume, MAX_PATH));
        CHECK(std::wstring(volume) == L"C:\\");
        Shell32Dll s;
        wchar_t folder[MAX_PATH] = {};
        CHECK(s.SHGetSpecialFolderPathW(folder, 0x26));
        CHECK(std::wstring(folder).size() > 3);
    }
    SUBCASE("a missing export throws SystemError naming the function")
    {
        Kernel32Dll k;
        try {
            k.GetProc("QuendalNoSuchFunction");
            FAIL("no exception");
        } catch (const SystemError& e) {
            CHECK(W(e.Function()) == L"GetProcAddress(QuendalNoSuchFunction)");
            CHECK(e.Code() == 127);
            CHECK(std::wstring(e.Description().p).rfind(
                      L"GetProcAddress(QuendalNoSuchFunction) failed: Windows error 127", 0) == 0);
        }
    }
    SUBCASE("a missing library throws unless tolerated")
    {
        DllLoader tolerant;
        tolerant.LoadFromSystemDirectory(L"quendal-no-such.dll", true);
        CHECK(tolerant.Handle() == nullptr);
        DllLoader strict;
        try {
            strict.Load(L"quendal-no-such.dll", false);
            FAIL("no exception");
        } catch (const SystemError& e) {
            CHECK(W(e.Function()) == L"LoadLibrary(quendal-no-such.dll)");
            CHECK(e.Code() == ERROR_MOD_NOT_FOUND);
        }
    }
    SUBCASE("loading twice into one loader is an assertion failure")
    {
        DllLoader d;
        d.Load(L"shell32.dll", false);
        try {
            d.Load(L"shell32.dll", false);
            FAIL("no exception");
        } catch (const StrAssertionFailed& e) {
            std::wstring text(e.Description().p);
            CHECK(text.substr(text.find(L"\r\n") + 2) == L"!m_hDll");
            CHECK(text.find(L"source file 'wwlib\\DllLoader', line ") != std::wstring::npos);
        }
    }
    SUBCASE("the process-wide security functions")
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        REQUIRE(ProcessAdvapi32().AllocateAndInitializeSid(&nt, DOMAIN_ALIAS_RID_ADMINS, &admins));
        CHECK(ProcessAdvapi32().IsValidSid(admins));
        CHECK(ProcessAdvapi32().EqualSid(admins, admins));
        ProcessAdvapi32().FreeSid(admins);
    }
}
