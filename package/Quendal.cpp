// The server. For the setup program it registers and removes its own Windows
// service (named after the site of its directory), runs as that service when
// the service control manager starts it, and prepares its configuration:
//   Quendal.exe -service                 register the service (automatic start)
//   Quendal.exe /unregserver             stop and delete the service, and wait
//                                        until it is gone (1072 when another
//                                        program still holds it)
//   Quendal.exe -install [-force] [-interactive] [-settingsFile=FILE]
//                                        make the Config folder, import FILE
//                                        as Config\Quendal-Settings.qst
//                                        (exit 13 when FILE is not valid)
//   Quendal.exe -runService              (the service control manager's start)
//   Quendal.exe -checkSettings=FILE      check a settings file (exit 13 when
//                                        it is not valid)
// The service reads Config\Quendal-Settings.qst, or without it the default
// settings beside the program, and notes its starts and stops in
// Config\Quendal.log.
// Exit code 0 means success for every switch.
#include "ForcedExit.h"
#include "ServerSettings.h"
#include "../nocrtlib/CallbackBoundary.h"
#include <windows.h>
#include <cstdio>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status;
HANDLE g_stop;
// The service main and control handler are called by the service control
// manager's dispatcher; what they throw waits here until it returns.
CallbackBoundary g_boundary;

std::wstring SiteName()
{
    return Package::SiteOfDirectory(Package::OwnDirectory());
}

void Report(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS s = {};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwWin32ExitCode = exitCode;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    SetServiceStatus(g_status, &s);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*)
{
    return g_boundary.Run(DWORD(ERROR_CALL_NOT_IMPLEMENTED), [control]() -> DWORD {
        if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
            Report(SERVICE_STOP_PENDING);
            SetEvent(g_stop);
        }
        return NO_ERROR;
    });
}

void Log(const std::wstring& line)
{
    std::wstring dir = Package::OwnDirectory() + L"\\Config";
    CreateDirectoryW(dir.c_str(), nullptr);
    HANDLE f = CreateFileW((dir + L"\\Quendal.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\r\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], n, nullptr, nullptr);
    DWORD written;
    WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(f);
}

// The imported settings, else the defaults of the package; empty when there
// is neither (the built-in defaults then).
std::wstring SettingsFile()
{
    for (const wchar_t* name : {L"\\Config\\Quendal-Settings.qst", L"\\Quendal-Settings-Default.qst"}) {
        std::wstring path = Package::OwnDirectory() + name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return path;
    }
    return std::wstring();
}

void RunAsService()
{
    std::wstring site = SiteName();
    g_status = RegisterServiceCtrlHandlerExW(site.c_str(), &Control, nullptr);
    if (!g_status)
        return;
    const std::wstring file = SettingsFile();
    Package::ServerSettings settings;
    std::wstring problem = file.empty() ? std::wstring() : Package::ReadServerSettings(file, settings);
    if (!problem.empty()) {
        Log(site + L" service not started: " + file + L": " + problem);
        Report(SERVICE_STOPPED, ERROR_INVALID_DATA);
        return;
    }
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    Log(site + L" service started, listening on " + settings.listenAddress + L":" + std::to_wstring(settings.port));
    WaitForSingleObject(g_stop, INFINITE);
    Log(site + L" service stopped");
    Report(SERVICE_STOPPED);
}

int CheckSettings(const std::wstring& file)
{
    Package::ServerSettings settings;
    std::wstring problem = Package::ReadServerSettings(file, settings);
    if (!problem.empty()) {
        std::fwprintf(stdout, L"%ls: %ls\n", file.c_str(), problem.c_str());
        return ERROR_INVALID_DATA;
    }
    std::fwprintf(stdout, L"%ls: valid; listening on %ls:%u, at most %u connections, log level %ls\n", file.c_str(),
                  settings.listenAddress.c_str(), settings.port, settings.maxConnections, settings.logLevel.c_str());
    return 0;
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_boundary.Run([] { RunAsService(); });
    // A failure stops the service with an error the manager can show; the
    // exception itself is rethrown once the dispatcher has returned.
    if (g_boundary.Failed() && g_status)
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
}

int RunService()
{
    std::wstring site = SiteName();
    SERVICE_TABLE_ENTRYW table[] = {{&site[0], &ServiceMain}, {nullptr, nullptr}};
    int result = StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
    g_boundary.Rethrow();
    return result;
}

// Errors of a service control manager that is still starting (a command run
// while Windows, or Wine's session, is coming up): worth another try.
bool ScmStarting(DWORD error)
{
    return error == RPC_S_SERVER_UNAVAILABLE || error == EPT_S_NOT_REGISTERED || error == RPC_S_UNKNOWN_IF ||
           error == ERROR_SERVICE_DATABASE_LOCKED;
}

int RegisterServiceOnce();

int RegisterTheService()
{
    int result = 0;
    for (int attempt = 0; attempt < 30; ++attempt) {
        result = RegisterServiceOnce();
        if (!ScmStarting(static_cast<DWORD>(result)))
            break;
        Sleep(500);
    }
    return result;
}

int RegisterServiceOnce()
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

// Waits up to 20 seconds for the service to be gone: 0 when it is,
// ERROR_SERVICE_MARKED_FOR_DELETE while something still holds it.
DWORD WaitUntilGone(SC_HANDLE scm, const std::wstring& site)
{
    for (int i = 0; i < 200; ++i) {
        SC_HANDLE svc = OpenServiceW(scm, site.c_str(), SERVICE_QUERY_STATUS);
        DWORD err = svc ? ERROR_SERVICE_MARKED_FOR_DELETE : GetLastError();
        if (svc)
            CloseServiceHandle(svc);
        if (err != ERROR_SERVICE_MARKED_FOR_DELETE)
            return err == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : err;
        Sleep(100);
    }
    return ERROR_SERVICE_MARKED_FOR_DELETE;
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
    DWORD result = DeleteService(svc) ? 0 : GetLastError();
    CloseServiceHandle(svc);
    // Deleting only marks the service: it goes when the last handle to it is
    // closed, which a stopped service process's handles may still be. It is
    // gone only when the service control manager no longer knows it.
    if (result == 0 || result == ERROR_SERVICE_MARKED_FOR_DELETE)
        result = WaitUntilGone(scm, site);
    CloseServiceHandle(scm);
    return static_cast<int>(result);
}

int Install(int argc, wchar_t** argv)
{
    std::wstring settings;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (Package::Lower(arg.substr(0, 14)) == L"-settingsfile=")
            settings = arg.substr(14);
    }
    // A file the service would refuse at its start is not imported at all:
    // the installation fails now, while it can still be rolled back.
    if (!settings.empty()) {
        std::string bytes;
        if (DWORD error = Package::ReadWholeFile(settings, bytes)) {
            std::fwprintf(stderr, L"Quendal: cannot import settings file '%ls' (error %lu)\n", settings.c_str(), error);
            return static_cast<int>(error);
        }
        Package::ServerSettings parsed;
        std::wstring problem = Package::ParseServerSettings(bytes, parsed);
        if (!problem.empty()) {
            std::fwprintf(stderr, L"Quendal: settings file '%ls' not imported: %ls\n", settings.c_str(), problem.c_str());
            return ERROR_INVALID_DATA;
        }
    }
    std::wstring config = Package::OwnDirectory() + L"\\Config";
    const bool made = CreateDirectoryW(config.c_str(), nullptr) != FALSE;
    if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
        return static_cast<int>(GetLastError());
    if (!settings.empty() && !CopyFileW(settings.c_str(), (config + L"\\Quendal-Settings.qst").c_str(), FALSE)) {
        DWORD err = GetLastError();
        std::fwprintf(stderr, L"Quendal: cannot import settings file '%ls' (error %lu)\n", settings.c_str(), err);
        // A failed import leaves nothing: the folder goes if this run made it.
        if (made) {
            DeleteFileW((config + L"\\Quendal-Settings.qst").c_str());
            RemoveDirectoryW(config.c_str());
        }
        return static_cast<int>(err ? err : 1);
    }
    return 0;
}

int Main(int argc, wchar_t** argv)
{
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
        if (arg.compare(0, 15, L"-checksettings=") == 0)
            return CheckSettings(std::wstring(argv[i]).substr(15));
    }
    std::fwprintf(stderr, L"usage: Quendal.exe -service | /unregserver | -install [-settingsFile=FILE]\n");
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Package::ApplyForcedExit(argc, argv);
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Quendal: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Quendal: unexpected failure\n");
    }
    return ERROR_SERVICE_SPECIFIC_ERROR;
}
