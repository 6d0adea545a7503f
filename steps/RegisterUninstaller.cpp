#include "RegisterUninstaller.h"
#include "undo/UndoRegistry.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../wwlib/CReg.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/Product.h"

using namespace WWLib;

namespace {

// Tools run the quiet command through cmd, where & ^ | < > ( ) % ! and a
// space mean something: such a site name goes in quotes (the uninstaller
// takes a quoted name as it takes the parts of an unquoted one).
WString QuotedForShell(const WString& site)
{
    for (std::size_t i = 0; i < site.size(); ++i)
        if (WString(L" &^|<>()%!,;=").find(site[i]) != WString::npos)
            return L"\"" + site + L"\"";
    return site;
}

// The day of the installation as Windows' program list shows it: YYYYMMDD,
// local time.
WString InstallDate()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    std::size_t n = FormatUnsigned(now.wYear, 4, 10, text);
    n += FormatUnsigned(now.wMonth, 2, 10, text + n);
    FormatUnsigned(now.wDay, 2, 10, text + n);
    return WString(text);
}

} // namespace

RegisterUninstaller::RegisterUninstaller(const WString& keyName, const WString& displayName,
                                         const WString& productName, const WString& version,
                                         unsigned long estimatedSizeKb)
    : keyPath(WString(kUninstallKey) + L"\\" + keyName)
{
    const InstallSettings& settings = TheInstallSettings();
    try {
        // An older entry goes whole, and comes back on rollback: recorded
        // with its values, so that a run killed after it went gives it back.
        previous = UndoRegistry::SavedEntry(keyPath);
        InstallJournal::Record(UndoKind::UninstallEntry, keyPath, previous);
        RegDeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
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
        CRegWrite<1>(keyPath, L"QuietUninstallString",
                     L"\"" + settings.uninstallerPath + L"\" " + QuotedForShell(keyName) + L" -unat");
        CRegWrite<1>(keyPath, L"InstallDate", InstallDate());
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
        UndoRegistry::RestoreEntry(keyPath, previous);
    else if (!written && !committed && !TheInstallSettings().noRollback && !previous.empty())
        UndoRegistry::RestoreEntry(keyPath, previous); // failed after the old entry went
}
