#include "RegisterService.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../wwlib/RunAndWait.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/ErrorText.h"
#include "../nocrtlib/datavect.h"
#include <cstdlib>
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
    previousConfig = SavedConfig(TheSiteName());
    if (previousConfig.empty())
        InstallJournal::Record(UndoKind::Service, TheSiteName(), exePath);
    else
        InstallJournal::Record(UndoKind::ServiceConfig, TheSiteName(), previousConfig);
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
    if (!ShouldRollBack(registered))
        return;
    if (previousConfig.empty())
        Unregister(exePath);
    else
        RestoreConfig(TheSiteName(), previousConfig);
}

WString RegisterService::SavedConfig(const WString& name)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle svc(scm.get() ? OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (!svc.get())
        return WString();
    DWORD needed = 0;
    QueryServiceConfigW(svc.get(), nullptr, 0, &needed);
    NoCrtDataVect<BYTE> buffer;
    buffer.resize(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(svc.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return WString();
    // The display name last: the only part that may hold the separator.
    return DecimalText(config->dwStartType) + L"|" + DecimalText(config->dwErrorControl) + L"|" +
           WString(config->lpBinaryPathName ? config->lpBinaryPathName : L"") + L"|" +
           WString(config->lpDisplayName ? config->lpDisplayName : L"");
}

bool RegisterService::RestoreConfig(const WString& name, const WString& config) noexcept
{
    try {
        StepLine(L"Rollback: giving the service " + name + L" its previous configuration back");
        std::size_t a = config.find(L'|'), b = a == WString::npos ? a : config.find(L'|', a + 1),
                    c = b == WString::npos ? b : config.find(L'|', b + 1);
        if (c == WString::npos) {
            ReportRollbackFailure(RollbackKind::Service, name, L"the stored configuration is damaged");
            return true; // nothing a later try could give back
        }
        const DWORD start = static_cast<DWORD>(_wtoi(config.substr(0, a).c_str()));
        const DWORD error = static_cast<DWORD>(_wtoi(config.substr(a + 1, b - a - 1).c_str()));
        const WString program = config.substr(b + 1, c - b - 1), display = config.substr(c + 1);
        ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        ScHandle svc(scm.get() ? OpenServiceW(scm.get(), name.c_str(), SERVICE_CHANGE_CONFIG) : nullptr);
        if (svc.get() && ChangeServiceConfigW(svc.get(), SERVICE_NO_CHANGE, start, error, program.c_str(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr, display.c_str()))
            return true;
        ReportRollbackFailure(RollbackKind::Service, name, WWLib::WindowsErrorText(GetLastError()));
    } catch (...) {
    }
    return false;
}

bool ServiceExists(const WString& name)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle svc(scm.get() ? OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    return svc.get() != nullptr;
}

WString StartServiceNamed(const WString& name)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm.get())
        return L"OpenSCManager() failed: " + WWLib::WindowsErrorText(GetLastError());
    ScHandle svc(OpenServiceW(scm.get(), name.c_str(), SERVICE_START));
    if (!svc.get())
        return L"OpenService() failed: " + WWLib::WindowsErrorText(GetLastError());
    if (!StartServiceW(svc.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return L"StartService() failed: " + WWLib::WindowsErrorText(GetLastError());
    return WString();
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
