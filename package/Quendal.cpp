// The server. For the setup program it registers and removes its own Windows
// service (named after the site of its directory), runs as that service when
// the service control manager starts it, and prepares its configuration:
//   Quendal.exe -service                 register the service (automatic start)
//   Quendal.exe /unregserver             stop and delete the service
//   Quendal.exe -install [-force] [-interactive] [-settingsFile=FILE]
//                                        make the Config folder, import FILE
//                                        as Config\Quendal-Settings.qst
//   Quendal.exe -runService              (the service control manager's start)
// Exit code 0 means success for every switch.
#include "ForcedExit.h"
#include <windows.h>
#include <cstdio>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status;
HANDLE g_stop;

std::wstring SiteName()
{
    return Package::SiteOfDirectory(Package::OwnDirectory());
}

void Report(DWORD state)
{
    SERVICE_STATUS s = {};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    SetServiceStatus(g_status, &s);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    std::wstring site = SiteName();
    g_status = RegisterServiceCtrlHandlerExW(site.c_str(), &Control, nullptr);
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

int RunService()
{
    std::wstring site = SiteName();
    SERVICE_TABLE_ENTRYW table[] = {{&site[0], &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}

int RegisterTheService()
{
    std::wstring site = SiteName();
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring command = L"\"" + std::wstring(path) + L"\" -runService";
    std::wstring display = L"Korvane " + site + L" SSH2 Server";
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!scm)
        return static_cast<int>(GetLastError());
    SC_HANDLE svc = CreateServiceW(scm, site.c_str(), display.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
    int result = 0;
    if (!svc && GetLastError() == ERROR_SERVICE_EXISTS) {
        // A registration left behind: point it at this program.
        svc = OpenServiceW(scm, site.c_str(), SERVICE_CHANGE_CONFIG);
        if (!svc || !ChangeServiceConfigW(svc, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                          command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                          display.c_str()))
            result = static_cast<int>(GetLastError());
    } else if (!svc) {
        result = static_cast<int>(GetLastError());
    }
    if (svc)
        CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return result;
}

int UnregisterTheService()
{
    std::wstring site = SiteName();
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm)
        return static_cast<int>(GetLastError());
    SC_HANDLE svc = OpenServiceW(scm, site.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!svc) {
        DWORD err = GetLastError();
        CloseServiceHandle(scm);
        return err == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : static_cast<int>(err);
    }
    SERVICE_STATUS status = {};
    if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
        for (int i = 0; i < 100 && QueryServiceStatus(svc, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
    }
    int result = DeleteService(svc) ? 0 : static_cast<int>(GetLastError());
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return result;
}

int Install(int argc, wchar_t** argv)
{
    std::wstring settings;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (Package::Lower(arg.substr(0, 14)) == L"-settingsfile=")
            settings = arg.substr(14);
    }
    std::wstring config = Package::OwnDirectory() + L"\\Config";
    if (!CreateDirectoryW(config.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return static_cast<int>(GetLastError());
    if (!settings.empty() && !CopyFileW(settings.c_str(), (config + L"\\Quendal-Settings.qst").c_str(), FALSE)) {
        DWORD err = GetLastError();
        std::fwprintf(stderr, L"Quendal: cannot import settings file '%ls' (error %lu)\n", settings.c_str(), err);
        return static_cast<int>(err ? err : 1);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Package::ApplyForcedExit(argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = Package::Lower(argv[i]);
        if (arg == L"-service")
            return RegisterTheService();
        if (arg == L"/unregserver" || arg == L"-unregserver")
            return UnregisterTheService();
        if (arg == L"-install")
            return Install(argc, argv);
        if (arg == L"-runservice")
            return RunService();
    }
    std::fwprintf(stderr, L"usage: Quendal.exe -service | /unregserver | -install [-settingsFile=FILE]\n");
    return 1;
}
