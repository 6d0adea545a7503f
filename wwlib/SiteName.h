#pragma once
// The one rule of site names, for the installer, the uninstaller and the
// package's programs alike: a folder whose name begins with "Quendal-" (case
// ignored) is the site "Quendal-<rest>", any other folder the default site
// "Quendal". Two readings of one folder would give two sites one service.
// Header-only, on plain characters: the package's programs link none of the
// installer's libraries.
#include <cstddef>

namespace SiteName {

constexpr const wchar_t kProduct[] = L"Quendal";
constexpr std::size_t kProductLength = sizeof(kProduct) / sizeof(wchar_t) - 1;

inline wchar_t LowerAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// Whether `name` (of `len` characters) begins with "Quendal-", case ignored.
inline bool HasSitePrefix(const wchar_t* name, std::size_t len)
{
    if (len < kProductLength + 1 || name[kProductLength] != L'-')
        return false;
    for (std::size_t i = 0; i < kProductLength; ++i)
        if (LowerAscii(name[i]) != LowerAscii(kProduct[i]))
            return false;
    return true;
}

// The site of the directory `dir` (a path of `len` characters; trailing
// backslashes ignored) as what follows the product's name in the site's
// name: its position in `dir` and its length, 0 for the default site. A
// path without a backslash names no folder: the default site.
inline std::size_t SuffixOfDirectory(const wchar_t* dir, std::size_t len, std::size_t& start)
{
    while (len && dir[len - 1] == L'\\')
        --len;
    std::size_t folder = len;
    while (folder && dir[folder - 1] != L'\\')
        --folder;
    start = 0;
    if (!folder || !HasSitePrefix(dir + folder, len - folder))
        return 0;
    start = folder + kProductLength;
    return len - start;
}

// A name Windows gives a device, in any folder: CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, CONIN$ and CONOUT$, also with an extension or trailing spaces.
inline bool IsDeviceName(const wchar_t* name, std::size_t len)
{
    std::size_t base = 0;
    while (base < len && name[base] != L'.')
        ++base;
    while (base && name[base - 1] == L' ')
        --base;
    auto is = [&](const wchar_t* device) {
        std::size_t i = 0;
        for (; device[i]; ++i)
            if (i >= base || LowerAscii(name[i]) != LowerAscii(device[i]))
                return false;
        return i == base;
    };
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (is(device))
            return true;
    if (base == 4 && name[3] >= L'1' && name[3] <= L'9')
        for (const wchar_t* device : {L"COM", L"LPT"})
            if (LowerAscii(name[0]) == LowerAscii(device[0]) && LowerAscii(name[1]) == LowerAscii(device[1]) &&
                LowerAscii(name[2]) == LowerAscii(device[2]))
                return true;
    return false;
}

// Whether `name` is a site's name: "Quendal", or "Quendal-" followed by
// what a folder may be named (no character a file name may not hold, no
// trailing dot or space, no device's name).
inline bool IsValid(const wchar_t* name, std::size_t len)
{
    if (len == kProductLength) {
        for (std::size_t i = 0; i < len; ++i)
            if (LowerAscii(name[i]) != LowerAscii(kProduct[i]))
                return false;
        return true;
    }
    if (len <= kProductLength + 1 || !HasSitePrefix(name, len))
        return false;
    for (std::size_t i = 0; i < len; ++i) {
        wchar_t c = name[i];
        if (c < 32 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
            c == L'>' || c == L'|')
            return false;
    }
    wchar_t last = name[len - 1];
    return last != L'.' && last != L' ' && !IsDeviceName(name, len);
}

} // namespace SiteName
