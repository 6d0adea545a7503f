#include "RestartAndResume.h"
#include "../steps/InstallSettings.h"
#include "../steps/StepReport.h"
#include "../wwlib/CReg.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/Interruption.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"
#include "../wwlib/WinSecurity.h"

using namespace WWLib;

namespace {

const wchar_t kUserRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const int kExitRestart = 300;

} // namespace

WString ResumeValueName(const WString& siteName)
{
    return siteName + L" Installer";
}

WString ResumeCommand(const WString& programPath)
{
    const InstallSettings& settings = TheInstallSettings();
    const ServerOptions& server = TheServerOptions();
    WString command = L"\"" + programPath + L"\" -interactive -acceptEULA -installDir=\"" + settings.installDir + L"\"";
    if (settings.force)
        command += L" -force";
    if (settings.noRollback)
        command += L" -noRollback";
    if (!server.settingsFile.empty())
        command += L" -settings=\"" + server.settingsFile + L"\"";
    if (server.startService)
        command += L" -startService";
    return command;
}

void RestartForReinstall()
{
    const WString& site = TheSiteName();
    // From here the run ends with 300, also through the shut-down it causes.
    IgnoreFurtherInterruptions();
    WString required = L"Windows restart is required before " + site + L" reinstallation can be completed";
    StepLine(required);
    if (!TheInstallSettings().interactive) {
        StepLine(L"Please re-run Quendal installer after Windows is restarted");
        throw SilentExit(kExitRestart);
    }
    bool written = false;
    WString program = ModulePath();
    if (!program.empty()) {
        CRegWrite<0> entry(RegKeyName(HKEY_CURRENT_USER, kUserRunKey), ResumeValueName(site), ResumeCommand(program));
        written = entry.Succeeded();
    }
    WString question = required + L". " +
                       (written ? L"Quendal reinstallation will continue automatically when you log in again, after "
                                  L"Windows restarts."
                                : L"Please re-run Quendal installer after Windows is restarted.") +
                       L"\n\nDo you want to restart Windows now?";
    if (MessageBoxW(nullptr, question.c_str(), L"Windows restart is required",
                    MB_YESNO | MB_DEFBUTTON2 | MB_ICONSTOP) == IDYES) {
        // The restart is asked for even when the privilege cannot be had: its
        // own failure says what went wrong.
        PrivilegeEnabler shutdown(PrivilegeHolder::Shutdown());
        shutdown.Try();
        if (!ExitWindowsEx(EWX_REBOOT, 3)) {
            DWORD err = GetLastError();
            WString text = L"Restarting Windows failed: " + WindowsErrorText(err) + L"\n\nPlease restart Windows manually.";
            MessageBoxW(nullptr, text.c_str(), L"Windows restart failed", MB_OK | MB_ICONERROR);
        }
    }
    throw SilentExit(kExitRestart);
}

void DeleteResumeEntry()
{
    CRegDeleteValue<0> remove(RegKeyName(HKEY_CURRENT_USER, kUserRunKey), ResumeValueName(TheSiteName()));
}
