#include "UndoService.h"
#include "../StepReport.h"
#include "../../nocrtlib/NoCrtFormat.h"
#include "../../nocrtlib/datavect.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/RunAndWait.h"
#include "../../wwlib/ServiceHandle.h"
#include <cstdlib>
#include <windows.h>

namespace {

// The server's program with one registration argument; a failure reported as
// a rollback's.
bool RunServer(const WString& exePath, const wchar_t* argument) noexcept
{
    try {
        try {
            const unsigned long code = RunAndWait(L"\"" + exePath + L"\" " + argument, true);
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

} // namespace

namespace UndoService {

bool Exists(const WString& name)
{
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle svc(scm.get() ? OpenServiceW(scm.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    return svc.get() != nullptr;
}

WString Start(const WString& name)
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

WString SavedConfig(const WString& name)
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

bool RestoreConfig(const WString& name, const WString& config) noexcept
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

bool Unregister(const WString& exePath) noexcept
{
    try {
        StepLine(L"Rollback: unregistering previously registered service " + exePath);
        return RunServer(exePath, L"/unregserver");
    } catch (...) {
    }
    return false;
}

bool Register(const WString& exePath) noexcept
{
    return RunServer(exePath, L"-service");
}

} // namespace UndoService
