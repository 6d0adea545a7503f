#include "ServerInstallCommand.h"
#include "undo/UndoFile.h"
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
                InstallJournal::Record(UndoKind::ServerFile, files[i], UndoFile::Stamp(files[i]));
        }
        return;
    }
    // Said before the rollback's lines, so that the cause reads first.
    wchar_t digits[24];
    FormatUnsigned(code, 1, 10, digits);
    StepLine(L"The server's installation command failed with exit code " + WString(digits) + L": " + command);
    // No destructor runs for a step that did not finish: its own part goes here.
    if (configNew && !TheInstallSettings().noRollback && PathExists(configDir))
        UndoFile::RemoveServerData(configDir);
    throw SilentExit(static_cast<int>(code));
}

ServerInstallCommand::~ServerInstallCommand()
{
    if (ShouldRollBack(configNew) && PathExists(configDir))
        UndoFile::RemoveServerData(configDir);
}
