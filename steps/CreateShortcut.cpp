#include "CreateShortcut.h"
#include "undo/UndoFile.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "ShellFolders.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/CCom.h"
#include "../wwlib/Product.h"

using namespace WWLib;

namespace {

// A shortcut of the same name that someone (an earlier installation of the
// site) left: its bytes, so that a rollback gives it back instead of leaving
// no shortcut at all. Empty when there is none; a shortcut is a few KB.
WString PreviousShortcut(const WString& linkPath)
{
    HANDLE h = CreateFileW(linkPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return WString();
    NoCrtHandle file(h);
    char bytes[65536];
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes, sizeof(bytes), &got, nullptr) || got == 0 || got == sizeof(bytes))
        return WString();
    return BytesToHex(bytes, got);
}

} // namespace

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
        } else if (previous = PreviousShortcut(linkPath), InstallJournal::Record(UndoKind::Shortcut, linkPath, previous),
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
        UndoFile::RestoreShortcut(linkPath, previous);
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
