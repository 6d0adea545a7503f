#include "RegisterServer.h"
#include "undo/ComRegistration.h"
#include "InstallJournal.h"
#include "StepReport.h"
#include "../wwlib/CReg.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"

using namespace WWLib;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace

RegisterServer::RegisterServer(const WString& path) : serverPath(path)
{
    StepLine(L"Registering server " + serverPath);
    InstallJournal::Record(UndoKind::ComServer, serverPath);
    try {
        ComRegistration::Run(serverPath, false, false);
        AppendUninstallParam(L"unregSvr", serverPath);
        registered = true;
    } catch (const InstallError& e) {
        ReportStepFailure(StepKind::ComServer, serverPath, e.Message());
    }
}

RegisterServer::~RegisterServer()
{
    if (ShouldRollBack(registered))
        ComRegistration::Unregister(serverPath);
}

RegisterAutoRun::RegisterAutoRun(const WString& name, const WString& commandLine)
    : valueName(name), keyPath(WString(L"HKEY_LOCAL_MACHINE\\") + kRunKey)
{
    StepLine(L"Registering auto run " + valueName);
    try {
        CRegWrite<1>(kRunKey, valueName, commandLine);
    } catch (const RegException& e) {
        ReportStepFailure(StepKind::AutoRun, valueName, e.Message());
        return;
    }
    AppendUninstallParam(L"delRegValue", keyPath + L"\\" + valueName);
    registered = true;
}

RegisterAutoRun::~RegisterAutoRun()
{
    if (!ShouldRollBack(registered))
        return;
    StepLine(L"Rollback: unregistering previously registered auto run " + valueName);
    try {
        CRegDeleteValue<1>(kRunKey, valueName);
    } catch (const RegException& e) {
        ReportRollbackFailure(RollbackKind::AutoRun, valueName, e.Message());
    }
}
