#include "ServerInstallCommand.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SilentExit.h"
#include <windows.h>

namespace {

// Deletes a folder and what is in it; returns the first error met, or 0.
DWORD DeleteTree(const WString& dir)
{
    DWORD first = 0;
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
                err = DeleteTree(path);
            } else {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!DeleteFileW(path.c_str()))
                    err = GetLastError();
            }
            if (err && !first)
                first = err;
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    if (!RemoveDirectoryW(dir.c_str()) && !first)
        first = GetLastError();
    return first;
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
    if (code == 0)
        return;
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
        if (DWORD err = DeleteTree(configDir))
            ReportRollbackFailure(RollbackKind::ServerData, configDir, WWLib::WindowsErrorText(err));
    } catch (...) {
    }
}
