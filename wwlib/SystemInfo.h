#pragma once
#include "CBase.h"
#include <windows.h>

namespace WWLib {

// A version compared field by field, first field first.
struct VersionTriple {
    unsigned long first = 0, second = 0, third = 0;
    bool operator==(const VersionTriple& o) const
    {
        return first == o.first && second == o.second && third == o.third;
    }
};

constexpr VersionTriple kWindows2000 = {VER_PLATFORM_WIN32_NT, 5, 0};
constexpr VersionTriple kShellWithFolderApi = {4, 71, 1712};

// True when `actual` is `required` or later.
bool AtLeast(const VersionTriple& required, const VersionTriple& actual);

// (platform, major, minor), cached once known; (0, 0, 0) when the query fails.
VersionTriple WindowsVersion();
// The same query without the cache.
VersionTriple FreshWindowsVersion();
// True on the NT platform from Windows 2000 on, where the newer security
// functions exist.
bool AtLeastNt5();

// The installed shell's version, read from the Internet Explorer key; zeros
// when it cannot be read. Cached once its major number is known.
VersionTriple ShellVersion();
// Parses the registry values behind ShellVersion; exposed for tests.
VersionTriple ParseShellVersion(const wchar_t* version, const wchar_t* iver, const wchar_t* build);
bool ShellFolderApiAvailable();

// Whether `process` runs under WOW64. Systems without IsWow64Process answer
// FALSE through `result` and return TRUE. A null `result` fails with 87.
BOOL IsWow64(HANDLE process, BOOL* result);

// The full path of the running executable, however long.
WString ModulePath();

// Writes the absolute form of `path` into `out`; on failure `out` is left as
// it was and the holder reports "GetFullPathNameW()".
template <int Throw>
class CPathMakeAbs;

template <>
class CPathMakeAbs<0> : public CWinApiBase<0> {
public:
    CPathMakeAbs(WString& out, const WString& path);
};

} // namespace WWLib
