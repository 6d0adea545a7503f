#include "MakeInstallDir.h"
#include "undo/UndoFile.h"
#include "InstallJournal.h"
#include "DeferredFileOps.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/SilentExit.h"

namespace {

const wchar_t kNotADirectory[] = L"The specified target path already exists and is not a directory";

[[noreturn]] void Stop(const WString& text, const wchar_t* title, int code)
{
    if (TheInstallSettings().interactive)
        MessageBoxW(nullptr, text.c_str(), title, MB_OK | MB_ICONERROR);
    else
        StepLine(text);
    throw SilentExit(code);
}

} // namespace

WString CreatableParentOf(const WString& path)
{
    WString parent = SplitAtLast(path, L'\\').head;
    if (parent.size() < 2 || parent == path)
        return WString();
    if (parent.size() == 2 && parent[1] == L':')
        return WString(); // a drive
    if (parent.startsWith(L"\\\\") && parent.find(L'\\', 2) == WString::npos)
        return WString(); // a network server
    return parent;
}

MakeInstallDir::MakeInstallDir(const WString& dir, SECURITY_ATTRIBUTES* security, unsigned flags) : path(dir)
{
    WString parentPath = CreatableParentOf(path);
    if (!parentPath.empty() && !(flags & NoParents) && !IsDirectory(parentPath))
        parent.reset(new MakeInstallDir(parentPath, (flags & SecurityHereOnly) ? nullptr : security, flags));

    const bool interactive = TheInstallSettings().interactive;
    const WString prefix = L"Unable to create target directory '" + path + L"': ";
    if (PathExists(path)) {
        if (!IsDirectory(path)) {
            if (interactive)
                Stop(prefix + kNotADirectory + L".", L"Invalid Target Directory", 103);
            Stop(prefix + kNotADirectory + L", aborting", nullptr, 101);
        }
    } else if (InstallJournal::Record(UndoKind::Directory, path), CreateDirectoryW(path.c_str(), security)) {
        created = true;
        AppendUninstallParam(L"delDir", path);
    } else {
        DWORD err = GetLastError();
        Stop(prefix + WWLib::WindowsErrorText(err), L"Directory Creation Failed", interactive ? 101 : 102);
    }
    // An earlier uninstallation may have left this directory's removal
    // pending. A directory made now is this run's; one that was there keeps
    // its pending removal until the installation completes, so that a
    // rollback or a killed run leaves it as it found it.
    if (created)
        CancelPendingDelete(path);
}

MakeInstallDir::~MakeInstallDir()
{
    if (ShouldRollBack(created))
        UndoFile::RemoveMadeFolder(path);
    // The parent goes after: directories are removed innermost first.
}

void MakeInstallDir::Commit()
{
    OperationWithRollback::Commit();
    if (!created)
        CancelPendingDelete(path);
    if (parent)
        parent->Commit();
}
