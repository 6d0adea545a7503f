#include "RegisterServer.h"
#include "../wwlib/DllLoader.h"
#include "InstallJournal.h"
#include "RegisterService.h"
#include "StepReport.h"
#include "../wwlib/CReg.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/RunAndWait.h"
#include <ole2.h>

using namespace WWLib;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool EndsWithExe(const WString& path)
{
    return path.size() > 3 && lstrcmpiW(path.c_str() + path.size() - 4, L".EXE") == 0;
}

// The COM library for the time a DLL's registration export runs; uninitialised
// only when this scope initialised it.
struct OleScope {
    OleScope() : initialised(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleScope()
    {
        if (initialised)
            OleUninitialize();
    }
    bool initialised;
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
};

struct Library {
    HMODULE h;
    ~Library()
    {
        if (h)
            FreeLibrary(h);
    }
};

} // namespace

RegisterServer::RegisterServer(const WString& path) : serverPath(path)
{
    StepLine(L"Registering server " + serverPath);
    InstallJournal::Record(UndoKind::ComServer, serverPath);
    try {
        Run(serverPath, false, false);
        AppendUninstallParam(L"unregSvr", serverPath);
        registered = true;
    } catch (const InstallError& e) {
        ReportStepFailure(StepKind::ComServer, serverPath, e.Message());
    }
}

RegisterServer::~RegisterServer()
{
    if (ShouldRollBack(registered))
        Unregister(serverPath);
}

bool RegisterServer::Unregister(const WString& serverPath) noexcept
{
    try {
        StepLine(L"Rollback: unregistering previously registered server " + serverPath);
        try {
            Run(serverPath, true, true);
            return true;
        } catch (const InstallError& e) {
            ReportRollbackFailure(RollbackKind::ComServer, serverPath, e.Message());
        }
    } catch (...) {
    }
    return false;
}

bool RegisterServer::Register(const WString& serverPath) noexcept
{
    try {
        try {
            Run(serverPath, false, true);
            return true;
        } catch (const std::exception& e) {
            ReportRollbackFailure(RollbackKind::ComServer, serverPath, ReasonOf(e));
        }
    } catch (...) {
    }
    return false;
}

void RegisterServer::Run(const WString& serverPath, bool unregister, bool inheritHandles)
{
    if (EndsWithExe(serverPath)) {
        WString command = L"\"" + serverPath + (unregister ? L"\" /UnregServer" : L"\" /RegServer");
        unsigned long code = RunAndWait(command, inheritHandles);
        if (code != 0)
            throw InstallError(ExitCodeReason(code));
        return;
    }
    // COM goes before the DLL: what COM still holds of it is released while
    // its code is there (locals go in reverse order).
    Library dll{WWLib::LoadLibraryWithItsFolder(serverPath)};
    if (!dll.h)
        ThrowCallFailed(L"LoadLibraryW()", GetLastError());
    OleScope ole;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
        GetProcAddress(dll.h, unregister ? "DllUnregisterServer" : "DllRegisterServer")));
    if (!entry)
        ThrowCallFailed(L"GetProcAddress()", GetLastError());
    entry(); // its result is not looked at: the export being there is the contract
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
