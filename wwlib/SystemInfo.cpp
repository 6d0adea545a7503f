#include "SystemInfo.h"
#include "CReg.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <cwchar>

namespace WWLib {
namespace {

bool g_windowsKnown = false;
VersionTriple g_windows;
bool g_shellKnown = false;
VersionTriple g_shell;

// Reads a string value into a fixed 160-byte buffer, as the old shells wrote them.
bool ReadSmall(HKEY key, const wchar_t* name, wchar_t (&buf)[80])
{
    DWORD size = sizeof(buf) - sizeof(wchar_t);
    std::memset(buf, 0, sizeof(buf));
    DWORD type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
           (type == REG_SZ || type == REG_EXPAND_SZ);
}

} // namespace

bool AtLeast(const VersionTriple& required, const VersionTriple& actual)
{
    if (actual.first != required.first)
        return actual.first > required.first;
    if (actual.second != required.second)
        return actual.second > required.second;
    return actual.third >= required.third;
}

VersionTriple FreshWindowsVersion()
{
    OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof(info));
    static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW is 276 bytes");
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info))
        return VersionTriple();
#pragma GCC diagnostic pop
    return VersionTriple{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

VersionTriple WindowsVersion()
{
    if (!g_windowsKnown) {
        VersionTriple v = FreshWindowsVersion();
        if (v.first == 0 && v.second == 0 && v.third == 0)
            return v;
        g_windows = v;
        g_windowsKnown = true;
    }
    return g_windows;
}

bool AtLeastNt5()
{
    VersionTriple v = WindowsVersion();
    return v.first == VER_PLATFORM_WIN32_NT && AtLeast(kWindows2000, v);
}

VersionTriple ParseShellVersion(const wchar_t* version, const wchar_t* iver, const wchar_t* build)
{
    VersionTriple v;
    if (version) {
        unsigned a = 0, b = 0, c = 0;
        std::swscanf(version, L"%u.%u.%u", &a, &b, &c);
        return VersionTriple{a, b, c};
    }
    if (!iver)
        return v;
    if (lstrcmpiW(iver, L"101") == 0)
        v = VersionTriple{4, 40, 308};
    else if (lstrcmpiW(iver, L"102") == 0)
        v = VersionTriple{4, 40, 520};
    else if (lstrcmpiW(iver, L"103") == 0) {
        v = VersionTriple{4, 70, 1155};
        unsigned b = 0;
        if (build && std::swscanf(build, L"%u", &b) == 1)
            v.third = b;
    }
    return v;
}

VersionTriple ShellVersion()
{
    if (g_shellKnown)
        return g_shell;
    CRegOpen<0> key(L"Software\\Microsoft\\Internet Explorer", KEY_QUERY_VALUE);
    if (key.Failed())
        return VersionTriple();
    wchar_t version[80], iver[80], build[80];
    VersionTriple v;
    if (ReadSmall(key.Key(), L"Version", version))
        v = ParseShellVersion(version, nullptr, nullptr);
    else if (ReadSmall(key.Key(), L"IVer", iver))
        v = ParseShellVersion(nullptr, iver, ReadSmall(key.Key(), L"Build", build) ? build : nullptr);
    if (v.first != 0) {
        g_shell = v;
        g_shellKnown = true;
    }
    return v;
}

bool ShellFolderApiAvailable()
{
    return AtLeast(kShellWithFolderApi, ShellVersion());
}

BOOL IsWow64(HANDLE process, BOOL* result)
{
    if (!result) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    Fn fn;
    {
        NoCrtLastErrorKeeper keep;
        fn = reinterpret_cast<Fn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    }
    if (fn)
        return fn(process, result);
    *result = FALSE;
    return TRUE;
}

WString ModulePath()
{
    WString buf;
    DWORD size = 261;
    for (;;) {
        buf.resize(size);
        DWORD n = GetModuleFileNameW(nullptr, buf.buffer(), size);
        if (n == 0)
            return WString();
        if (n < size) {
            buf.resize(n);
            return buf;
        }
        size *= 2; // the path may have been cut
    }
}

CPathMakeAbs<0>::CPathMakeAbs(WString& out, const WString& path)
{
    DWORD len = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!len) {
        SetResult(GetLastError(), L"GetFullPathNameW()");
        return;
    }
    WString buf;
    buf.resize(len + 1);
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buf.size()), buf.buffer(), nullptr);
    if (!n) {
        SetResult(GetLastError(), L"GetFullPathNameW()");
        return;
    }
    if (n >= buf.size()) {
        SetResult(ERROR_INSUFFICIENT_BUFFER, L"GetFullPathNameW()");
        return;
    }
    buf.resize(n);
    out = buf;
}

} // namespace WWLib
