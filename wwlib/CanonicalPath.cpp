#include "CanonicalPath.h"

#include <windows.h>

namespace WWLib {

namespace {

bool DriveLetterAt(const WString& p, std::size_t i)
{
    return p.size() > i + 1 && ((p[i] >= L'A' && p[i] <= L'Z') || (p[i] >= L'a' && p[i] <= L'z')) && p[i + 1] == L':';
}

// The long form of the part that exists, and the rest as given.
WString LongForm(const WString& full)
{
    WString head = full, tail;
    for (;;) {
        wchar_t buffer[1024];
        DWORD n = GetLongPathNameW(head.c_str(), buffer, 1024);
        if (n && n < 1024)
            return WString(buffer, n) + tail;
        std::size_t slash = head.rfind(L'\\');
        if (slash == WString::npos || slash < 3)
            return full;
        tail = head.substr(slash) + tail;
        head = head.substr(0, slash);
    }
}

} // namespace

WString CanonicalPath(const WString& path, WString& out, bool fromCurrentDirectory)
{
    WString p = path;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (p[i] == L'/')
            p[i] = L'\\';
    // "\\?\C:\x", "\\.\C:\x", "\\?\UNC\server\share\x": the same folders as
    // the plain forms, which are what the checks know.
    if (p.startsWith(L"\\\\?\\") || p.startsWith(L"\\\\.\\")) {
        WString rest = p.substr(4);
        if (DriveLetterAt(rest, 0) && (rest.size() == 2 || rest[2] == L'\\'))
            p = rest;
        else if (rest.size() > 4 && (rest[0] == L'U' || rest[0] == L'u') && (rest[1] == L'N' || rest[1] == L'n') &&
                 (rest[2] == L'C' || rest[2] == L'c') && rest[3] == L'\\')
            p = L"\\\\" + rest.substr(4);
        else
            return L"it is a device path";
    }
    if (!(DriveLetterAt(p, 0) && p.size() > 2 && p[2] == L'\\') && !(p.size() > 2 && p[0] == L'\\' && p[1] == L'\\') &&
        !fromCurrentDirectory)
        return L"it is not an absolute path";
    // Each name as given: Windows drops a trailing dot or space, so that the
    // folder made is not the folder named.
    for (std::size_t start = 0; start <= p.size();) {
        std::size_t end = p.find(L'\\', start);
        if (end == WString::npos)
            end = p.size();
        WString name = p.substr(start, end - start);
        if (!name.empty() && name != L"." && name != L".." && (name[name.size() - 1] == L'.' || name[name.size() - 1] == L' '))
            return L"a folder name ends with a dot or a space";
        const bool drive = start == 0 && name.size() == 2 && DriveLetterAt(name, 0);
        for (std::size_t i = 0; i < name.size() && !drive; ++i)
            if (name[i] < 32 || WString(L"?*:\"<>|").find(name[i]) != WString::npos)
                return L"a folder name holds a character that names may not hold";
        start = end + 1;
    }
    wchar_t buffer[1024];
    DWORD n = GetFullPathNameW(p.c_str(), 1024, buffer, nullptr);
    if (n == 0 || n >= 1024)
        return L"it is not a valid path";
    WString full(buffer, n);
    if (full.startsWith(L"\\\\?\\") || full.startsWith(L"\\\\.\\"))
        return L"it is a device path";
    full = LongForm(full);
    while (full.size() > 3 && full[full.size() - 1] == L'\\')
        full.erase(full.size() - 1);
    out = full;
    return WString();
}

WString CanonicalOrEmpty(const WString& path)
{
    WString out;
    return CanonicalPath(path, out).empty() ? out : WString();
}

} // namespace WWLib
