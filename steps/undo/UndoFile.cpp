#include "UndoFile.h"
#include "../InstallSettings.h"
#include "../StepReport.h"
#include "../../nocrtlib/NoCrtConvert.h"
#include "../../nocrtlib/NoCrtFormat.h"
#include "../../nocrtlib/NoCrtHandle.h"
#include "../../nocrtlib/NoCrtPath.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/FileLinks.h"
#include <cstdint>
#include <windows.h>

namespace {

bool WriteBytes(const WString& path, const NoCrtDataVect<std::uint8_t>& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    NoCrtHandle file(h);
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Deletes a folder and what is in it; returns the first error met, or 0. A
// link (junction, symbolic link, mount point) is removed as the link itself,
// never entered: what it points at was never this installation's.
DWORD DeleteTree(const WString& dir, const WString& top)
{
    DWORD first = 0;
    DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(PathJoin(dir, L"*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                WString name = fd.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                WString path = PathJoin(dir, name);
                DWORD err = 0;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    err = DeleteTree(path, top);
                } else if (!WWLib::DeleteFileNotLink(path, top)) {
                    err = GetLastError();
                }
                if (err && !first)
                    first = err;
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
    }
    if (!RemoveDirectoryW(dir.c_str()) && !first)
        first = GetLastError();
    return first;
}

} // namespace

namespace UndoFile {

bool RemoveWritten(const WString& path) noexcept
{
    return RemoveOnRollback(L"Rollback: removing previously created " + path, path, &DeleteFileW, RollbackKind::File);
}

bool RemoveTakenOver(const WString& path) noexcept
{
    return RemoveOnRollback(L"Rollback: removing taken-over " + path, path, &DeleteFileW, RollbackKind::File);
}

bool RemoveMadeFolder(const WString& path) noexcept
{
    return RemoveOnRollback(L"Rollback: removing previously created " + path, path, &RemoveDirectoryW,
                            RollbackKind::Directory);
}

bool RestoreShortcut(const WString& linkPath, const WString& previous) noexcept
{
    try {
        NoCrtDataVect<std::uint8_t> bytes;
        if (!previous.empty() && HexToBytes(previous, bytes) && bytes.size()) {
            StepLine(L"Rollback: restoring the previous shortcut " + linkPath);
            if (WriteBytes(linkPath, bytes))
                return true;
            DWORD err = GetLastError();
            ReportRollbackFailure(RollbackKind::Shortcut, linkPath, WWLib::WindowsErrorText(err));
            return false;
        }
    } catch (...) {
        return false;
    }
    return RemoveOnRollback(L"Rollback: removing previously created shortcut " + linkPath, linkPath, &DeleteFileW,
                            RollbackKind::Shortcut);
}

void RemoveServerData(const WString& configDir) noexcept
{
    try {
        StepLine(L"Rollback: removing previously created " + configDir);
        if (DWORD err = DeleteTree(configDir, SplitAtLast(configDir, L'\\').head))
            ReportRollbackFailure(RollbackKind::ServerData, configDir, WWLib::WindowsErrorText(err));
    } catch (...) {
    }
}

void RemoveFolderIfEmpty(const WString& configDir) noexcept
{
    try {
        if (WWLib::IsReparsePoint(configDir)) {
            // Put there since: the link goes, never what it points at.
            if (!RemoveDirectoryW(configDir.c_str()))
                StepLine(L"Left the link " + configDir + L": " + WWLib::WindowsErrorText(GetLastError()));
            return;
        }
        if (RemoveDirectoryW(configDir.c_str()))
            StepLine(L"Rollback: removing previously created " + configDir);
        else
            StepLine(L"Kept " + configDir + L": it holds files that the earlier installation did not write");
    } catch (...) {
    }
}

WString Stamp(const WString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return WString();
    wchar_t digits[24];
    WString stamp;
    FormatUnsigned((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow, 1, 16, digits);
    stamp += digits;
    stamp += L':';
    FormatUnsigned((std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime, 1,
                   16, digits);
    stamp += digits;
    return stamp;
}

bool RemoveFileIfUnchanged(const WString& path, const WString& stamp) noexcept
{
    try {
        if (stamp.empty() || Stamp(path) != stamp) {
            StepLine(L"Kept " + path + L": it changed since the earlier installation wrote it");
            return true;
        }
        StepLine(L"Rollback: removing previously created " + path);
        if (WWLib::DeleteFileNotLink(path, TheInstallSettings().installDir))
            return true;
        DWORD err = GetLastError();
        return ReportRollbackFailure(RollbackKind::File, path, WWLib::WindowsErrorText(err));
    } catch (...) {
        return false;
    }
}

} // namespace UndoFile
