#include "StepReport.h"
#include "../wwlib/UninstallParams.h"
#include "DeferredFileOps.h"
#include "InstallSettings.h"
#include "OperationWithRollback.h"
#include "TargetDirectory.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/FileLinks.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/WException.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/ConsoleOutput.h"
#include "../wwlib/SilentExit.h"
#include <windows.h>

namespace {

// What the policy says for one failed step.
struct StepTexts {
    WString warning;   // unattended with -force
    WString abort;     // unattended
    WString box;       // interactive question
    const wchar_t* title;
    const wchar_t* cancel;
    int code;
    bool noIsDefault;
    WString consoleFirst; // printed before the box, where the step has such a line
};

const wchar_t kContinueAnyway[] = L"Do you want to continue with the installation anyway?";

StepTexts TextsFor(StepKind kind, const WString& name, const WString& reason)
{
    StepTexts t{};
    switch (kind) {
    case StepKind::SecuringDirectory: {
        WString m = L"Securing intallation directory failed: " + reason;
        t.warning = L"Warning: " + m;
        t.abort = m + L" (use /Force flag to override); aborting";
        t.box = m + L"\n" + kContinueAnyway;
        t.consoleFirst = t.warning;
        t.title = L"Securing installation directory failure";
        t.cancel = L"Installation canceled by user (securing installation directory failure)";
        t.code = 108;
        t.noIsDefault = true;
        break;
    }
    case StepKind::ExistingFile:
        t.warning = L"Warning: '" + name + L"' already exists, will be overwritten";
        t.abort = L"Target file '" + name + L"' already exists, aborting";
        t.box = L"Warning: '" + name +
                L"' already exists.\nDo you want it to be overwritten?\nClicking 'Yes' will overwrite the file, "
                L"clicking 'No' will abort the installation.";
        t.title = L"Target File Exists";
        t.cancel = L"Installation canceled by user (file already exists)";
        t.code = 104;
        break;
    case StepKind::Shortcut:
        t.warning = L"Warning: creating shortcut '" + name + L"' failed: " + reason;
        t.abort = L"Creating shortcut '" + name + L"' failed: " + reason + L", aborting";
        t.box = L"Warning: creating shortcut '" + name + L"' failed.\nReason: " + reason + L".\n" + kContinueAnyway;
        t.title = L"Creating Shortcut Failed";
        t.cancel = L"Installation canceled by user (creating shortcut failed)";
        t.code = 105;
        break;
    case StepKind::AutoRun:
        t.warning = L"Warning: auto run " + name + L" registration failed: " + reason;
        t.abort = L"Auto run " + name + L" registration failed: " + reason + L", aborting";
        t.box = L"Warning: auto run '" + name + L"' registration failed.\nReason: " + reason + L"\n" +
                kContinueAnyway;
        t.title = L"Auto Run Registration Failed";
        t.cancel = L"Installation canceled by user (auto run registration failed)";
        t.code = 111;
        break;
    case StepKind::ComServer:
        t.warning = L"Warning: server " + name + L" registration failed: " + reason;
        t.abort = L"Server " + name + L" registration failed: " + reason + L", aborting";
        t.box = L"Warning: server '" + name + L"' registration failed.\nReason: " + reason + L"\n" + kContinueAnyway;
        t.title = L"Server Registration Failed";
        t.cancel = L"Installation canceled by user (server registration failed)";
        t.code = 111;
        break;
    case StepKind::Service:
        t.warning = L"Warning: service '" + name + L"' registration failed: " + reason;
        t.abort = L"Service '" + name + L"' registration failed: " + reason + L", aborting";
        t.box = L"Warning: service '" + name + L"' registration failed.\n" + reason + L"\n" + kContinueAnyway + L"\n";
        t.title = L"Service Registration Failed";
        t.cancel = L"Installation canceled by user (service registration failed)";
        t.code = 110;
        break;
    case StepKind::UninstallerEntry:
        t.warning = L"Warning: uninstaller registration failed: " + reason;
        t.abort = L"Uninstaller registration failed: " + reason + L", aborting";
        t.box = L"Warning: uninstaller registration failed.\nReason: " + reason + L"\n" + kContinueAnyway;
        t.title = L"Uninstaller Registration Failed";
        t.cancel = L"Installation canceled by user (uninstaller registration failed)";
        t.code = 113;
        break;
    }
    return t;
}

struct RollbackTexts {
    const wchar_t* prefix;
    WString box;
    const wchar_t* title;
    const wchar_t* scheduling;      // null: nothing to schedule
    const wchar_t* schedulingFailed;
};

RollbackTexts RollbackTextsFor(RollbackKind kind, const WString& name, const WString& reason)
{
    WString removed = L"Unable to remove previously created '" + name + L"'.\nReason: " + reason + L"\n";
    switch (kind) {
    case RollbackKind::File:
        return {L"File deletion failed: ", removed + L"The file will be scheduled for deletion on reboot.",
                L"File Deletion Failed", L"Scheduling file deletion on reboot", L"Scheduling file deletion failed"};
    case RollbackKind::Directory:
        return {L"Rollback: error removing directory: ",
                removed + L"The directory will be scheduled for removal on reboot.", L"Directory Deletion Failed",
                L"Scheduling removing directory on reboot", L"Scheduling removing directory failed"};
    case RollbackKind::Shortcut:
        return {L"Shortcut deletion failed: ", removed + L"The shortcut will be scheduled for removal on reboot.",
                L"Shortcut Removal Failed", L"Scheduling remove shortcut on reboot", L"Scheduling remove shortcut failed"};
    case RollbackKind::AutoRun:
        return {L"Unregistering auto run failed: ",
                L"Unable to unregister previously registered auto run '" + name + L"'.\nReason: " + reason,
                L"Unregistering Auto Run Failed", nullptr, nullptr};
    case RollbackKind::ComServer:
        return {L"Unregister server failed: ",
                L"Unable to unregister previously registered server '" + name + L"'.\nReason: " + reason,
                L"Unregistering Server Failed", nullptr, nullptr};
    case RollbackKind::Service:
        return {L"Unregistering service failed: ",
                L"Unable to unregister previously registered service '" + name + L"'.\n" + reason + L".\n",
                L"Unregistering Service Failed", nullptr, nullptr};
    case RollbackKind::Security:
        return {L"Restoring access control failed: ",
                L"Unable to restore the previous access control of '" + name + L"'.\nReason: " + reason,
                L"Restoring Access Control Failed", nullptr, nullptr};
    case RollbackKind::ServerData:
        return {L"Removing the server's data failed: ",
                L"Unable to remove previously created '" + name + L"'.\nReason: " + reason,
                L"Directory Deletion Failed", nullptr, nullptr};
    case RollbackKind::UninstallerEntry:
        break;
    }
    return {L"Uninstaller unregistration failed: ",
            L"Unable to unregister previously registered uninstaller.\nReason: " + reason,
            L"Uninstaller Unregistration Failed", nullptr, nullptr};
}

} // namespace

bool OperationWithRollback::ShouldRollBack(bool done) const
{
    return !committed && !TheInstallSettings().noRollback && done;
}

void StepLine(const WString& text)
{
    WWLib::ConsoleLine(text);
}

WString ReasonOf(const std::exception& e)
{
    if (const WException* w = dynamic_cast<const WException*>(&e)) {
        WView d = w->Description();
        return WString(d.p, d.len);
    }
    WString wide;
    const char* text = e.what();
    if (!NarrowToWide(CP_ACP, text, lstrlenA(text), wide))
        wide = L"(unreadable reason)";
    return wide;
}

void ReportStepFailure(StepKind kind, const WString& subject, const WString& reason)
{
    const InstallSettings& settings = TheInstallSettings();
    StepTexts t = TextsFor(kind, subject, reason);
    if (settings.interactive) {
        if (!t.consoleFirst.empty())
            StepLine(t.consoleFirst);
        UINT style = MB_YESNO | MB_ICONWARNING | (t.noIsDefault ? MB_DEFBUTTON2 : 0);
        if (MessageBoxW(nullptr, t.box.c_str(), t.title, style) == IDYES)
            return;
        StepLine(t.cancel);
        throw SilentExit(t.code);
    }
    if (settings.force) {
        StepLine(t.warning);
        return;
    }
    StepLine(t.abort);
    throw SilentExit(t.code);
}

bool ReportRollbackFailure(RollbackKind kind, const WString& subject, const WString& reason) noexcept
{
    bool scheduled = false;
    try {
        RollbackTexts t = RollbackTextsFor(kind, subject, reason);
        StepLine(t.prefix + reason);
        if (TheInstallSettings().interactive)
            MessageBoxW(nullptr, t.box.c_str(), t.title, MB_OK | MB_ICONERROR);
        if (t.scheduling) {
            StepLine(t.scheduling);
            scheduled = ScheduleDeleteOnReboot(subject);
            if (!scheduled)
                StepLine(t.schedulingFailed);
        }
    } catch (...) {
        // A rollback goes on whatever its report meets.
    }
    return scheduled;
}

bool RemoveOnRollback(const WString& line, const WString& path, BOOL(WINAPI* remove)(LPCWSTR),
                      RollbackKind kind) noexcept
{
    try {
        StepLine(line);
        // Someone who could write into the folder since may have put a link
        // on the way: what lies behind it is not the installation's.
        const WString& dir = TheInstallSettings().installDir;
        const WString top = PathBelow(ComparablePath(path), ComparablePath(dir)) ? dir : SplitAtLast(path, L'\\').head;
        if (WWLib::ReachedThroughLink(path, top)) {
            StepLine(L"Left " + path + L": it is reached through a link");
            return false;
        }
        const bool link = WWLib::IsReparsePoint(path);
        if (remove == &DeleteFileW ? WWLib::DeleteFileNotLink(path, top) : remove(path.c_str()) != FALSE)
            return true;
        DWORD err = GetLastError();
        if (link) {
            // Never left to the restart: what removes it then may follow it.
            StepLine(L"Left the link " + path + L": " + WWLib::WindowsErrorText(err));
            return false;
        }
        return ReportRollbackFailure(kind, path, WWLib::WindowsErrorText(err));
    } catch (...) {
        // A rollback goes on whatever it meets.
        return false;
    }
}

void AppendUninstallParam(const wchar_t* name, const WString& value)
{
    if (!UninstallParams::Append(TheInstallSettings().uninstallParams, name, value))
        throw InstallError(L"The uninstallation parameter -" + WString(name) + L"=" + value +
                           L" holds a double quote and cannot be written");
}

void AppendUninstallFeedback()
{
    TheInstallSettings().uninstallParams += L" -feedback=yes";
}
