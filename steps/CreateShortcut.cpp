#include "CreateShortcut.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "ShellFolders.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/CCom.h"
#include "../wwlib/Product.h"

using namespace WWLib;

CreateShortcut::CreateShortcut(const WString& link, const WString& target, const WString& arguments,
                               const WString& workingDir, const WString& description, const WString& icon)
    : linkPath(link)
{
    StepLine(L"Creating shortcut " + linkPath);
    WString reason;
    try {
        CComInit<0> com;
        CComClsT<IShellLinkW> shellLink;
        IShellLinkW* sl = shellLink.Get();
        // The setters' results are not looked at: Save tells whether it worked.
        sl->SetPath(target.c_str());
        if (!arguments.empty())
            sl->SetArguments(arguments.c_str());
        if (!workingDir.empty())
            sl->SetWorkingDirectory(workingDir.c_str());
        if (!description.empty())
            sl->SetDescription(description.c_str());
        sl->SetIconLocation(icon.empty() ? target.c_str() : icon.c_str(), 0);
        CComClsN<IPersistFile> persist(shellLink);
        if (persist.Failed()) {
            WView text = persist.FailureText();
            reason.assign(text.p, text.len);
        } else if (InstallJournal::Record(UndoKind::Shortcut, linkPath),
                   FAILED(persist.Get()->Save(linkPath.c_str(), TRUE))) {
            reason = L"IPersistFile::Save() failed";
        } else {
            AppendUninstallParam(L"delFile", linkPath);
            created = true;
            CancelPendingDelete(linkPath);
        }
    } catch (const ComException& e) {
        reason = e.Message();
    }
    if (!created)
        ReportStepFailure(StepKind::Shortcut, linkPath, reason);
}

CreateShortcut::~CreateShortcut()
{
    if (ShouldRollBack(created))
        Undo(linkPath);
}

void CreateShortcut::Undo(const WString& linkPath) noexcept
{
    RemoveOnRollback(L"Rollback: removing previously created shortcut " + linkPath, linkPath, &DeleteFileW,
                     RollbackKind::Shortcut);
}

CreateShortcutPlan::CreateShortcutPlan(const WString& startMenuFolder)
{
    const InstallSettings& settings = TheInstallSettings();
    const WString& service = TheSiteName();
    const WString version = Product::kVersion;
    const WString controlPanel = PathJoin(settings.installDir, L"srvctrl.exe");
    shortcuts[0].reset(new CreateShortcut(PathJoin(startMenuFolder, service + L" Control Panel.lnk"), controlPanel,
                                          WString(), settings.installDir,
                                          L"Korvane " + service + L" " + version + L" Control Panel", WString()));
    shortcuts[1].reset(new CreateShortcut(PathJoin(startMenuFolder, L"Uninstall " + service + L".lnk"),
                                          settings.uninstallerPath, service, settings.installDir,
                                          L"Uninstall Korvane Quendal " + version, WString()));
    WString adminTools = GetCommonAdminToolsDir();
    if (!adminTools.empty())
        shortcuts[2].reset(new CreateShortcut(PathJoin(adminTools, service + L" Control Panel.lnk"), controlPanel,
                                              WString(), settings.installDir,
                                              L"Korvane Quendal " + version + L" Control Panel", WString()));
}

CreateShortcutPlan::~CreateShortcutPlan()
{
    for (auto& shortcut : shortcuts)
        shortcut.reset();
}

void CreateShortcutPlan::Commit()
{
    for (auto& shortcut : shortcuts)
        if (shortcut)
            shortcut->Commit();
}
