#include "RegisterService.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SystemError.h"
#include <windows.h>

namespace {

// A service control manager or service handle, closed on every path.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ~ScHandle()
    {
        if (h_)
            CloseServiceHandle(h_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }

private:
    SC_HANDLE h_;
};

} // namespace

WString ExitCodeReason(unsigned long code)
{
    wchar_t digits[16];
    FormatUnsigned(code & 0xFFFFFFFFul, 8, 16, digits);
    return WString(L"Error code 0x") + digits + L" received";
}

RegisterService::RegisterService(const WString& path) : exePath(path)
{
    StepLine(L"Registering service " + exePath);
    WString reason;
    InstallJournal::Record(UndoKind::Service, TheSiteName(), exePath);
    try {
        unsigned long code = RunAndWait(L"\"" + exePath + L"\" -service", true);
        if (code == 0) {
            registered = true;
            AppendUninstallParam(L"unregSvc", exePath);
            return;
        }
        reason = ExitCodeReason(code);
    } catch (const std::exception& e) {
        reason = ReasonOf(e);
    }
    ReportStepFailure(StepKind::Service, exePath, reason);
}

RegisterService::~RegisterService()
{
    if (ShouldRollBack(registered))
        Unregister(exePath);
}

bool RegisterService::Unregister(const WString& exePath) noexcept
{
    try {
        StepLine(L"Rollback: unregistering previously registered service " + exePath);
        try {
            unsigned long code = RunAndWait(L"\"" + exePath + L"\" /unregserver", true);
            if (code == 0)
                return true;
            ReportRollbackFailure(RollbackKind::Service, exePath, ExitCodeReason(code));
        } catch (const std::exception& e) {
            ReportRollbackFailure(RollbackKind::Service, exePath, ReasonOf(e));
        }
    } catch (...) {
    }
    return false;
}

bool IsServiceRunning()
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm.get())
        ThrowLastError(L"OpenSCManager()");
    ScHandle svc(OpenServiceW(scm.get(), TheSiteName().c_str(), SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!svc.get() || !QueryServiceStatus(svc.get(), &status))
        ThrowLastError(L"QueryServiceStatus()");
    return status.dwCurrentState == SERVICE_RUNNING;
}

void StartSiteService()
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm.get())
        ThrowLastError(L"OpenSCManager()");
    ScHandle svc(OpenServiceW(scm.get(), TheSiteName().c_str(), SERVICE_START));
    if (!svc.get())
        ThrowLastError(L"OpenService()");
    if (!StartServiceW(svc.get(), 0, nullptr))
        ThrowLastError(L"StartService()");
}

void StartServiceAfterInstall()
{
    const WString& site = TheSiteName();
    StepLine(L"Starting " + site + L" service...");
    try {
        StartSiteService();
    } catch (const SystemError& e) {
        WView d = e.Description();
        WString text = L"Failed to start " + site + L" service: " + WString(d.p, d.len);
        StepLine(L"Warning: " + text);
        if (TheInstallSettings().interactive)
            MessageBoxW(nullptr, (text + L"\nPlease try starting service manually from Quendal Control Panel.").c_str(),
                        L"Service restart failure", MB_OK | MB_ICONWARNING);
        return;
    }
    StepLine(site + L" service started successfully.");
}
