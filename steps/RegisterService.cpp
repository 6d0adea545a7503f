#include "RegisterService.h"
#include "undo/UndoService.h"
#include "../wwlib/ServiceHandle.h"
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

RegisterService::RegisterService(const WString& path) : exePath(path)
{
    StepLine(L"Registering service " + exePath);
    WString reason;
    previousConfig = UndoService::SavedConfig(TheSiteName());
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
        UndoService::Unregister(exePath);
    else
        UndoService::RestoreConfig(TheSiteName(), previousConfig);
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
