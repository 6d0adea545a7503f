// How long an upgrade of a running site leaves the machine without its
// server: installs a site with its service started, then upgrades it with
// the same command ROUNDS times, and for each upgrade measures the time from
// the service leaving RUNNING to its RUNNING again (its state asked every
// millisecond or so). Prints each round and the median.
//   usage: upgrade_downtime INSTALLER.exe [ROUNDS]
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kSite[] = L"Quendal-Bench";
const wchar_t kDir[] = L"C:\\Sites\\Quendal-Bench";

DWORD RunQuietly(const std::wstring& command, HANDLE& process)
{
    std::wstring line = command;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = nul;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(nul);
    if (!started)
        return GetLastError();
    CloseHandle(pi.hThread);
    process = pi.hProcess;
    return 0;
}

DWORD StateOf(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: upgrade_downtime INSTALLER.exe [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
    const std::wstring command = L"\"" + std::wstring(argv[1]) + L"\" -installDir=" + kDir + L" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    HANDLE process = nullptr;
    DWORD code = 1;
    if (RunQuietly(command + L" -startService", process) || WaitForSingleObject(process, 300000) ||
        !GetExitCodeProcess(process, &code) || code != 0) {
        std::fwprintf(stderr, L"upgrade_downtime: the installation failed (%lu)\n", code);
        return 1;
    }
    CloseHandle(process);
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm ? OpenServiceW(scm, kSite, SERVICE_QUERY_STATUS) : nullptr;
    if (!service) {
        std::fwprintf(stderr, L"upgrade_downtime: no service %ls\n", kSite);
        return 1;
    }
    std::vector<double> downtimes;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 20000 && StateOf(service) != SERVICE_RUNNING; ++i)
            Sleep(1);
        if (RunQuietly(command, process))
            return 1;
        LARGE_INTEGER left = {}, back = {};
        // Until the installer has ended and the service runs again.
        for (;;) {
            const DWORD state = StateOf(service);
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            if (state != SERVICE_RUNNING && !left.QuadPart)
                left = now;
            if (state == SERVICE_RUNNING && left.QuadPart && !back.QuadPart)
                back = now;
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && (back.QuadPart || state == SERVICE_RUNNING))
                break;
            Sleep(1);
        }
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        if (code != 0) {
            std::fwprintf(stderr, L"upgrade_downtime: upgrade %d ended with %lu\n", round + 1, code);
            return 1;
        }
        const double ms = left.QuadPart && back.QuadPart
                              ? double(back.QuadPart - left.QuadPart) * 1000.0 / double(frequency.QuadPart)
                              : 0.0;
        std::wprintf(L"upgrade %d: the server down for %.0f ms\n", round + 1, ms);
        downtimes.push_back(ms);
    }
    std::sort(downtimes.begin(), downtimes.end());
    std::wprintf(L"an upgrade of a running site: the server down for %.2f s (median of %d)\n",
                 downtimes[downtimes.size() / 2] / 1000.0, rounds);
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return 0;
}
