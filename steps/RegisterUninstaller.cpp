#include "RegisterUninstaller.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../wwlib/CReg.h"
#include "../wwlib/Product.h"

using namespace WWLib;

RegisterUninstaller::RegisterUninstaller(const WString& keyName, const WString& displayName,
                                         const WString& productName, const WString& version,
                                         unsigned long estimatedSizeKb)
    : keyPath(WString(kUninstallKey) + L"\\" + keyName)
{
    const InstallSettings& settings = TheInstallSettings();
    try {
        InstallJournal::Record(UndoKind::UninstallEntry, keyPath);
        RegDeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath); // an older entry goes whole
        StepLine(L"Registering uninstaller");
        CRegWrite<1>(keyPath, L"DisplayName", displayName);
        CRegWrite<1>(keyPath, L"DisplayIcon", settings.uninstallerPath);
        AppendUninstallParam(L"delRegKey", L"HKEY_LOCAL_MACHINE\\" + keyPath);
        CRegWrite<1>(keyPath, L"UninstallString", L"\"" + settings.uninstallerPath + L"\" " + keyName + L" ");
        CRegWrite<1>(keyPath, L"UninstallParam", settings.uninstallParams);
        CRegWrite<1>(keyPath, L"InstallDir", settings.installDir);
        CRegWrite<1>(keyPath, L"ProductName", productName);
        CRegWrite<1>(keyPath, L"Version", version);
        // What Windows' program list and deployment tools read.
        CRegWrite<1>(keyPath, L"DisplayVersion", version);
        CRegWrite<1>(keyPath, L"Publisher", WString(Product::kMaker));
        CRegWrite<1>(keyPath, L"InstallLocation", settings.installDir);
        CRegWrite<1>(keyPath, L"QuietUninstallString", L"\"" + settings.uninstallerPath + L"\" " + keyName + L" -unat");
        if (estimatedSizeKb)
            CRegWrite<1>(keyPath, L"EstimatedSize", static_cast<DWORD>(estimatedSizeKb));
        CRegWrite<1>(keyPath, L"NoModify", DWORD(1));
        CRegWrite<1>(keyPath, L"NoRepair", DWORD(1));
        CRegWrite<1>(keyPath, L"URLInfoAbout", WString(Product::kWebAddress));
        written = true;
    } catch (const std::exception& e) {
        ReportStepFailure(StepKind::UninstallerEntry, WString(), ReasonOf(e));
    }
}

RegisterUninstaller::~RegisterUninstaller()
{
    if (ShouldRollBack(written))
        Undo(keyPath);
}

void RegisterUninstaller::Undo(const WString& keyPath) noexcept
{
    try {
        StepLine(L"Rollback: unregistering uninstaller");
        LONG r = RegDeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
        if (r != ERROR_SUCCESS)
            ReportRollbackFailure(RollbackKind::UninstallerEntry, WString(),
                                  WindowsErrorText(static_cast<DWORD>(r)));
    } catch (...) {
    }
}
