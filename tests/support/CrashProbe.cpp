// The Windows side of the crash sweep (tests/e2e/crash-sweep.sh), run in the
// sweep's prefix: pictures of the machine, the installer ended at chosen
// moments within one session, and the product's uninstaller run as its entry
// names it.
//
//   crash_probe snapshot FILE [FOLDER]     the machine's picture into FILE, after
//                                          making FOLDER (where the sites go: a
//                                          removal leaves the folder it was in)
//   crash_probe terminate MS[,MS...] LOG COMMAND...
//                                          starts COMMAND and ends it after MS
//                                          milliseconds (once per delay, each
//                                          time the same command again), then
//                                          runs it once more to its end: its
//                                          output into LOG, its exit code out
//   crash_probe same FILE SITE DIR         the machine against FILE, but what the
//                                          site's running server writes (its
//                                          log), the installer's journals and
//                                          the entry's parameter list; and the
//                                          site's service running
//   crash_probe remove SITE FILE DIR       the site's quiet removal, then the
//                                          machine's differences since FILE but
//                                          what a removed site in DIR keeps;
//                                          exit 1 when the removal fails, its
//                                          entry stays or anything differs
#include "Snapshot.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string Utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

Test::Snapshot ReadSnapshot(const std::wstring& file);

// One entry a line: path, a tab, the value.
int WriteSnapshot(const std::wstring& file)
{
    Test::Snapshot shot = Test::Snapshot::Take();
    std::ofstream out(Utf8(file), std::ios::binary);
    for (const auto& e : shot.entries)
        out << Utf8(e.first) << '\t' << Utf8(e.second) << '\n';
    return out ? 0 : 2;
}

Test::Snapshot ReadSnapshot(const std::wstring& file)
{
    Test::Snapshot shot;
    std::ifstream in(Utf8(file), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            shot.entries[Wide(line.substr(0, tab))] = Wide(line.substr(tab + 1));
    }
    return shot;
}

// The installation as it was when FILE was taken, its service running.
int Same(const std::wstring& file, const std::wstring& site, const std::wstring& dir)
{
    wchar_t data[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
    // An upgrade that completed before it was killed lists what it wrote
    // itself: its folder was there already.
    std::vector<std::wstring> diff = Test::Snapshot::Take().Differences(
        ReadSnapshot(file), {Test::kMakerKeyEntry, L"file:" + dir + L"\\Config\\Quendal.log",
                             L"file:" + std::wstring(data) + L"\\Korvane Quendal Setup\\*",
                             L"reg:HKLM\\" + kUninstall + site + L"\\@UninstallParam"});
    for (const std::wstring& d : diff)
        std::printf("%s\n", Utf8(d).c_str());
    DWORD state = 0;
    if (SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE svc = OpenServiceW(scm, site.c_str(), SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS status = {};
            for (int i = 0; i < 200 && QueryServiceStatus(svc, &status) && status.dwCurrentState != SERVICE_RUNNING;
                 ++i)
                Sleep(100);
            state = status.dwCurrentState;
            CloseServiceHandle(svc);
        }
        CloseServiceHandle(scm);
    }
    if (state != SERVICE_RUNNING)
        std::printf("the service %s is not running (state %lu)\n", Utf8(site).c_str(), state);
    return diff.empty() && state == SERVICE_RUNNING ? 0 : 1;
}

int Compare(const std::wstring& file, const std::wstring& dir, const std::wstring& site)
{
    std::vector<std::wstring> diff =
        Test::Snapshot::Take().Differences(ReadSnapshot(file), Test::KeptAfterRemoval(dir, site));
    for (const std::wstring& d : diff)
        std::printf("%s\n", Utf8(d).c_str());
    return diff.empty() ? 0 : 1;
}

HANDLE Start(const std::wstring& command, HANDLE output)
{
    std::wstring line = command;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output;
    si.hStdError = output;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

int Terminate(const std::wstring& delays, const std::wstring& log, const std::wstring& command)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE out = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 2;
    std::size_t start = 0;
    while (start < delays.size()) {
        std::size_t comma = delays.find(L',', start);
        DWORD ms = static_cast<DWORD>(std::wcstoul(delays.c_str() + start, nullptr, 10));
        start = comma == std::wstring::npos ? delays.size() : comma + 1;
        HANDLE p = Start(command, out);
        if (!p)
            return 2;
        if (WaitForSingleObject(p, ms) == WAIT_TIMEOUT) {
            TerminateProcess(p, 1);
            WaitForSingleObject(p, 10000);
            std::printf("ended after %lu ms\n", ms);
        } else {
            DWORD code = 0;
            GetExitCodeProcess(p, &code);
            std::printf("ended by itself before %lu ms, with %lu\n", ms, code);
        }
        CloseHandle(p);
        std::fflush(stdout);
    }
    // The last run may be given a fault of its own (the sweep's upgrade
    // kind: the previous uninstaller failing, to see what the recovery left).
    wchar_t force[256] = {};
    if (GetEnvironmentVariableW(L"QUENDAL_FINAL_FORCE_EXIT", force, 256))
        SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", force);
    HANDLE p = Start(command, out);
    if (!p)
        return 2;
    WaitForSingleObject(p, 600000);
    DWORD code = 0;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    CloseHandle(out);
    return static_cast<int>(code);
}

std::wstring RegString(const std::wstring& key, const wchar_t* name)
{
    wchar_t value[4096] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size))
        return std::wstring();
    return value;
}

int Uninstall(const std::wstring& site)
{
    std::wstring command = RegString(kUninstall + site, L"QuietUninstallString");
    if (command.empty())
        return 1;
    HANDLE p = Start(command, GetStdHandle(STD_OUTPUT_HANDLE));
    if (!p)
        return 2;
    // It waits for the copy that does the work: its exit code is the
    // removal's (3010: files left to the restart).
    DWORD code = 1;
    if (WaitForSingleObject(p, 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(p, &code))
        code = 1;
    CloseHandle(p);
    if (code != 0 && code != 3010) {
        std::printf("the quiet removal ended with %lu\n", code);
        return 1;
    }
    if (!RegString(kUninstall + site, L"UninstallString").empty()) {
        std::printf("the quiet removal left its entry\n");
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"snapshot" && (argc == 3 || argc == 4)) {
        if (argc == 4)
            CreateDirectoryW(argv[3], nullptr);
        return WriteSnapshot(argv[2]);
    }
    // Both in one session: the removal is over when the uninstaller ends.
    if (what == L"remove" && argc == 5)
        return Uninstall(argv[2]) != 0 ? 1 : Compare(argv[3], argv[4], argv[2]);
    if (what == L"same" && argc == 5)
        return Same(argv[2], argv[3], argv[4]);
    if (what == L"terminate" && argc >= 5) {
        std::wstring command;
        for (int i = 4; i < argc; ++i) {
            std::wstring arg = argv[i];
            command += (i > 4 ? L" " : L"") + (arg.find(L' ') != std::wstring::npos ? L"\"" + arg + L"\"" : arg);
        }
        return Terminate(argv[2], argv[3], command);
    }
    std::fprintf(stderr, "usage: crash_probe snapshot FILE [FOLDER] | terminate MS[,MS] LOG COMMAND... "
                         "| same FILE SITE DIR | remove SITE FILE DIR\n");
    return 2;
}
