#include "InstallSequence.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../steps/CreateShortcut.h"
#include "../steps/DeferredFileOps.h"
#include "../steps/FirstRunFlag.h"
#include "../steps/InstallJournal.h"
#include "../steps/KeptInstallation.h"
#include "../steps/JournalFile.h"
#include "../steps/InstallSettings.h"
#include "../steps/MakeInstallDir.h"
#include "../steps/ProductKey.h"
#include "../steps/RegisterServer.h"
#include "../steps/RegisterService.h"
#include "../steps/RegisterUninstaller.h"
#include "../steps/SecuredInstallDir.h"
#include "../steps/ServerInstallCommand.h"
#include "../steps/ShellFolders.h"
#include "../steps/SiteKey.h"
#include "../steps/StepReport.h"
#include "../steps/TargetDirectory.h"
#include "../steps/WriteFilesFromLzmaStream.h"
#include "../upgrade/InstalledSites.h"
#include "../upgrade/PreviousUninstaller.h"
#include "../upgrade/RestartAndResume.h"
#include "../ui/MainDialog.h"
#include "../wwlib/DllLoader.h"
#include "../wwlib/CReg.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Interruption.h"
#include "../wwlib/MachineWideLock.h"
#include "../wwlib/Membership.h"
#include "../wwlib/Product.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"
#include <shlobj.h>
#include <iostream>
#include "../nocrtlib/NoCrtCompare.h"

using namespace WWLib;

namespace {

const wchar_t kAnotherRunning[] =
    L"Another installation or removal of Quendal is running on this computer; try again when it has finished.";
const wchar_t kNotAdmin[] = L"This program must be run by a user with administrator privileges";
const wchar_t kEulaMissing[] =
    L"Missing -acceptEULA parameter to indicate your acceptance of the Quendal End-User License Agreement. Please "
    L"run this installer without parameters to read the EULA, then supply the -acceptEULA parameter for unattended "
    L"installation.\n";

// 1. Rights.
void CheckAdministrator()
{
    if (IsAdministrator(true))
        return;
    StepLine(WString(kNotAdmin) + L", aborting.");
    if (TheInstallSettings().interactive)
        MessageBoxW(nullptr, (WString(kNotAdmin) + L".").c_str(), L"Installation Aborted", MB_OK | MB_ICONERROR);
    throw SilentExit(131);
}

// 2. Windows 2000 or later, of the NT family.
void CheckWindowsVersion()
{
    if (AtLeast(kWindows2000, FreshWindowsVersion()))
        return;
    const InstallSettings& settings = TheInstallSettings();
    if (settings.interactive) {
        if (MessageBoxW(nullptr,
                        L"The minimum requirement for installing Quendal is Windows 2000.\nDoes your system meet "
                        L"Quendal minimum requirements?",
                        L"Unsupported OS Version Detected", MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) != IDYES)
            throw SilentExit(130);
        return;
    }
    if (settings.force) {
        StepLine(L"Warning: Quendal requires Windows 2000, or higher");
        return;
    }
    StepLine(L"Quendal requires Windows 2000, or higher (use /Force flag to override version checking), aborting");
    throw SilentExit(130);
}

// One installer at a time: two at once would each roll the other's work back.
void TakeMachineWideLock(MachineWideLock& lock)
{
    const bool taken = lock.TryTake(Product::kSetupLock, PathJoin(JournalFile::Folder(), Product::kSetupLockFile));
    for (std::size_t i = 0; i < lock.Notes().size(); ++i)
        StepLine(lock.Notes()[i]);
    if (taken)
        return;
    StepLine(kAnotherRunning);
    if (TheInstallSettings().interactive)
        MessageBoxW(nullptr, (WString(kAnotherRunning) + L"\n").c_str(), L"Installation Aborted",
                    MB_OK | MB_ICONERROR);
    throw SilentExit(204);
}

// A directory no installation may take, chosen in the dialog (the command
// line refuses it already).
void CheckTargetDirectory()
{
    const WString& dir = TheInstallSettings().installDir;
    WString refused = RefusedTargetReason(dir);
    if (!refused.empty())
        RefuseTarget(dir, refused);
}

// 4. Interactive with or without the dialog, or unattended. The dialog may
// change the directory and whether the control panel starts at the end.
void DecideMode(const InstalledSiteList& sites, bool& launchControlPanel)
{
    InstallSettings& settings = TheInstallSettings();
    if (!settings.interactive) {
        if (!settings.acceptEULA) {
            std::wcout << kEulaMissing << std::flush;
            throw SilentExit(140);
        }
        return;
    }
    if (!settings.installDir.empty() && settings.acceptEULA)
        return; // everything the dialog would ask is given
    if (settings.installDir.empty()) {
        // Only a folder that is the entry's own site's is offered.
        for (std::size_t i = 0; i < sites.size() && settings.installDir.empty(); ++i)
            if (EqualNoCase(sites[i].siteName, Product::kName))
                settings.installDir = OwnDirectoryOf(sites[i]);
        for (std::size_t i = 0; i < sites.size() && settings.installDir.empty(); ++i)
            settings.installDir = OwnDirectoryOf(sites[i]);
        if (settings.installDir.empty())
            settings.installDir = PathJoin(GetProgramFilesDir(), Product::kDefaultFolder);
    }
    WWLib::LoadProcessRichEdit();
    // A site whose entry names a folder that is not its own (another site's,
    // or another program's) is not offered: choosing it would say "Upgrade"
    // for one site and install into another.
    MainDialog::SiteList shown;
    for (std::size_t i = 0; i < sites.size(); ++i)
        if (!OwnDirectoryOf(sites[i]).empty())
            shown.push_back(MainDialog::Site{sites[i].siteName, sites[i].installDir, sites[i].version});
    bool accepted = settings.acceptEULA;
    MainDialog::Data data{&accepted, &settings.installDir, &launchControlPanel, &shown};
    data.refusedTarget = &RefusedTargetReason; // refused in the dialog, where it can be corrected
    data.newSiteParent = GetProgramFilesDir(); // as for the command line's -site=
    if (MainDialog::Run(data) != IDOK)
        throw SilentExit(202);
    settings.acceptEULA = accepted;
    CheckTargetDirectory();
}

// The path as one argument: backslashes before quotes, quotes around it when
// it holds a space or a quote.
WString QuoteArgument(const WString& path)
{
    WString quoted;
    bool needsQuotes = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'"') {
            quoted += L'\\';
            needsQuotes = true;
        }
        if (path[i] == L' ')
            needsQuotes = true;
        quoted += path[i];
    }
    return needsQuotes ? L"\"" + quoted + L"\"" : quoted;
}

// 7.7 The control panel, left running.
void LaunchControlPanel(const WString& installDir)
{
    WString command = L"\"" + PathJoin(installDir, L"srvctrl.exe") + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, command.buffer(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

} // namespace

void RunInstallationSequence()
{
    InstallSettings& settings = TheInstallSettings();
    ServerOptions& server = TheServerOptions();
    bool launchControlPanel = true; // the main dialog may change it

    CheckAdministrator();
    CheckWindowsVersion();
    MachineWideLock lock;
    TakeMachineWideLock(lock);
    InstalledSiteList sites = FindInstalledSites(Product::kName);
    DecideMode(sites, launchControlPanel);

    // 5. Preparation: nothing of this run can be undone yet.
    InstallJournal journal; // outlives the rollback of every step
    // The installation this run replaces, kept while it runs: it comes back
    // after the rollback of every step.
    KeptInstallation previous;
    SecuredInstallDir secured;
    secured.CheckAclSupport();
    CreateProductKey();
    TheSiteName() = SiteNameFromDir(settings.installDir);
    const WString site = TheSiteName();
    // What a killed or interrupted run of this site left half done goes
    // first, so that the same command finishes what that run began.
    RecoverUnfinishedRun(site);
    StopIfInterrupted();
    // A package that cannot be installed is found while the installation it
    // would replace still runs, untouched, not after that one went.
    if (!ReadSiteUninstallValue(site, L"UninstallParam").empty())
        WriteFilesFromLzmaStream check(PackageTargets{settings.installDir, WString(), WString(), WString()},
                                       WriteFilesFromLzmaStream::CheckOnly);
    // A running server runs again afterwards, also when this run ends with
    // 300 and the caller repeats it as told.
    bool running = false;
    try {
        running = IsServiceRunning();
    } catch (const std::exception&) {
    }
    if (running)
        RememberRunningService(site);
    server.startService = server.startService || running || RunningServiceRemembered(site);
    // Open before the previous installation goes: a run killed while its
    // uninstaller works leaves files that only this journal can name.
    journal.Open(site);
    UninstallExisting(previous, running || RunningServiceRemembered(site));
    StopIfInterrupted();
    DeleteResumeEntry();
    const WString& dir = settings.installDir;
    AppendUninstallFeedback();
    AppendUninstallParam(L"workDir", dir);
    AppendUninstallParam(L"stopSvc", site);
    AppendUninstallParam(L"killProc", PathJoin(dir, L"srvctrl.exe"));
    AppendUninstallParam(L"killProc", PathJoin(dir, L"srvcfg.exe"));
    AppendUninstallParam(L"killProc", PathJoin(dir, L"QuendalCfgManip.exe"));
    AppendUninstallParam(L"execUninst", PathJoin(dir, L"srvctrl.exe"));
    const WString serverExe = PathJoin(dir, L"Quendal.exe");
    settings.uninstallerPath = PathJoin(dir, L"uninst.exe");

    // 6. The install steps; each undoes itself when the run stops before the
    // commit, and the journal keeps how, for a run that cannot.
    secured.Secure();
    StopIfInterrupted();
    MakeInstallDir termInfo(PathJoin(dir, L"TermInfo"), nullptr, MakeInstallDir::NoParents | MakeInstallDir::SecurityHereOnly);
    WriteFilesFromLzmaStream files({dir, WString(), WString(), WString()}, WriteFilesFromLzmaStream::AllFiles);
    StopIfInterrupted();
    const WString startMenu = PathJoin(GetStartMenuProgramsDir(), Product::kMakerPrefix + site);
    MakeInstallDir startMenuDir(startMenu, nullptr, MakeInstallDir::SecurityHereOnly);
    CreateShortcutPlan shortcuts(startMenu);
    StopIfInterrupted();
    RegisterService service(serverExe);
    StopIfInterrupted();
    RegisterServer configServer(PathJoin(dir, L"QuendalCfgManip.exe"));
    StopIfInterrupted();
    RegisterUninstaller entry(site, Product::kMakerPrefix + site + L" " + Product::kVersion + L" (remove only)",
                              Product::kName, Product::kVersion,
                              static_cast<unsigned long>((files.WrittenBytes() + 1023) / 1024));
    StopIfInterrupted();

    // 7. Completion.
    FirstRunFlag firstRun(dir, site);
    WString install = L"\"" + serverExe + L"\" -install";
    if (settings.force)
        install += L" -force";
    if (settings.interactive)
        install += L" -interactive";
    if (!server.settingsFile.empty())
        install += L" -settingsFile=" + QuoteArgument(server.settingsFile);
    ServerInstallCommand serverInstall(dir, install);
    StopIfInterrupted();
    SHChangeNotify(SHCNE_ASSOCCHANGED, 0, nullptr, nullptr);
    if (server.startService)
        StartServiceAfterInstall();

    // The journal ends before anything says "completed": a run that ends
    // while the box is up, or is killed right after, must not be taken for
    // an unfinished one and undone by the next. Ending it may fail; the steps
    // are not committed yet and roll back.
    journal.Commit();
    serverInstall.Commit();
    firstRun.Commit();
    configServer.Commit();
    service.Commit();
    entry.Commit();
    shortcuts.Commit();
    startMenuDir.Commit();
    files.Commit();
    termInfo.Commit();
    secured.Commit();
    previous.Commit();
    ForgetRunningService(site);
    WString completed = WString(L"Korvane Quendal ") + Product::kVersion + L" installation completed.";
    StepLine(completed);
    if (settings.interactive)
        MessageBoxW(nullptr, (completed + L"\n").c_str(), L"Installation Completed", MB_OK | MB_ICONINFORMATION);

    if (settings.interactive && launchControlPanel)
        LaunchControlPanel(dir);
}
