#include "FileLinks.h"
#include "DllLoader.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtPath.h"

namespace WWLib {

namespace {

// Where the system says an open file really is, in the plain drive form;
// empty where it cannot say (before Windows Vista).
WString FinalPathOf(HANDLE file)
{
    wchar_t buffer[1024];
    DWORD n = 0;
    try {
        n = ProcessKernel32().GetFinalPathNameByHandleW(file, buffer, 1024, 0);
    } catch (const std::exception&) {
        return WString(); // older systems: their links all show the reparse attribute
    }
    if (n == 0 || n >= 1024)
        return WString();
    WString final(buffer, n);
    if (final.startsWith(L"\\\\?\\UNC\\"))
        return L"\\\\" + final.substr(8);
    if (final.startsWith(L"\\\\?\\"))
        return final.substr(4);
    return final;
}

} // namespace

WString FinalPathOf(const WString& path)
{
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return WString();
    NoCrtHandle file(h);
    return FinalPathOf(file.get()); // empty too when the path is gone
}

namespace {

// A drive's root as a folder ("E:" alone names the drive's current folder).
WString AsFolder(const WString& path)
{
    if (path.size() == 2 && path[1] == L':')
        return path + L"\\";
    return path;
}

// A drive's root is the volume itself, never a link to elsewhere, whatever
// its attributes say (Wine shows a drive on a file system of its own as a
// reparse point).
bool IsDriveRoot(const WString& folder)
{
    return folder.size() == 3 && folder[1] == L':' && folder[2] == L'\\';
}

WString Full(const WString& given)
{
    const WString path = AsFolder(given);
    wchar_t buffer[1024];
    DWORD n = GetFullPathNameW(path.c_str(), 1024, buffer, nullptr);
    WString full = n && n < 1024 ? WString(buffer, n) : path;
    // Short names (C:\PROGRA~1) compare as the long ones the system gives back.
    wchar_t longForm[1024];
    n = GetLongPathNameW(full.c_str(), longForm, 1024);
    if (n && n < 1024)
        full = WString(longForm, n);
    while (full.size() > 3 && full[full.size() - 1] == L'\\')
        full.erase(full.size() - 1);
    return full;
}

} // namespace

bool IsReparsePoint(const WString& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool ReachedThroughLink(const WString& path, const WString& top)
{
    const WString full = Full(path), base = Full(top);
    if (GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    // Where the path goes on below the top: a drive's root ends in its
    // separator, any other folder before it.
    const std::size_t sep = IsDriveRoot(base) ? base.size() - 1 : base.size();
    const bool below =
        full.size() > sep + 1 && full[sep] == L'\\' && EqualNoCase(full.substr(0, sep), base.substr(0, sep));
    if (!below) {
        const WString parent = AsFolder(SplitAtLast(full, L'\\').head);
        return !EqualNoCase(full, base) && !IsDriveRoot(parent) && IsReparsePoint(parent);
    }
    // Each folder between the top and the path.
    for (std::size_t at = full.find(L'\\', sep + 1); at != WString::npos; at = full.find(L'\\', at + 1))
        if (IsReparsePoint(full.substr(0, at)))
            return true;
    if (IsReparsePoint(full))
        return false;
    // A link the attributes do not show: the system takes the path elsewhere.
    const WString finalTop = FinalPathOf(base), finalPath = FinalPathOf(full);
    if (finalTop.empty() || finalPath.empty())
        return false;
    WString finalBase = finalTop;
    if (IsDriveRoot(finalBase))
        finalBase.erase(2);
    return !EqualNoCase(finalPath, finalBase + full.substr(sep));
}

bool DeleteFileNotLink(const WString& path, const WString& top)
{
    if (ReachedThroughLink(path, top)) {
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return false;
    }
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(path.c_str()) != FALSE;
}

bool OpenedAsNamed(HANDLE handle, const WString& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1)
        return false;
    const WString final = FinalPathOf(handle);
    return final.empty() || EqualNoCase(final, Full(path));
}

} // namespace WWLib
