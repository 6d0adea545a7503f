#include "ServerInstallCommand.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/CReg.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SilentExit.h"
#include <windows.h>

using WWLib::WStringList;

namespace {

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

// Each file below a folder, links not entered.
void ListFiles(const WString& dir, WStringList& files)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(PathJoin(dir, L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        WString name = fd.cFileName;
        if (name == L"." || name == L".." || (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(PathJoin(dir, name), files);
        else
            files.push_back(PathJoin(dir, name));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

} // namespace

ServerInstallCommand::ServerInstallCommand(const WString& installDir, const WString& command)
    : configDir(PathJoin(installDir, L"Config"))
{
    if (!PathExists(configDir)) {
        InstallJournal::Record(UndoKind::ServerData, configDir);
        configNew = true;
    }
    unsigned long code = RunAndWait(command, true);
    if (code == 0) {
        // What the command made, as it made it: a later run deletes no
        // more than that, and nothing changed since.
        if (configNew) {
            WStringList files;
            ListFiles(configDir, files);
            for (std::size_t i = 0; i < files.size(); ++i)
                InstallJournal::Record(UndoKind::ServerFile, files[i], Stamp(files[i]));
        }
        return;
    }
    // Said before the rollback's lines, so that the cause reads first.
    wchar_t digits[24];
    FormatUnsigned(code, 1, 10, digits);
    StepLine(L"The server's installation command failed with exit code " + WString(digits) + L": " + command);
    // No destructor runs for a step that did not finish: its own part goes here.
    if (configNew && !TheInstallSettings().noRollback && PathExists(configDir))
        Undo(configDir);
    throw SilentExit(static_cast<int>(code));
}

ServerInstallCommand::~ServerInstallCommand()
{
    if (ShouldRollBack(configNew) && PathExists(configDir))
        Undo(configDir);
}

void ServerInstallCommand::Undo(const WString& configDir) noexcept
{
    try {
        StepLine(L"Rollback: removing previously created " + configDir);
        if (DWORD err = DeleteTree(configDir, SplitAtLast(configDir, L'\\').head))
            ReportRollbackFailure(RollbackKind::ServerData, configDir, WWLib::WindowsErrorText(err));
    } catch (...) {
    }
}

void ServerInstallCommand::RemoveFolderIfEmpty(const WString& configDir) noexcept
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

WString ServerInstallCommand::Stamp(const WString& path)
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

bool ServerInstallCommand::RemoveFileIfUnchanged(const WString& path, const WString& stamp) noexcept
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
