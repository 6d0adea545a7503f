// A service that runs one command, as a deployment tool's agent runs an
// installer: as the service's account (LocalSystem), with no console.
//
//   service_launcher.exe JOBFILE
//
// JOBFILE holds the folder to run it from, a line end and the command line
// (UTF-8); the program is looked for in that folder, as the agents of
// software-distribution systems run a command from the package's content
// folder. When the command has ended, the
// launcher writes JOBFILE.result: "exit=<code>" and "user=<the token user's
// SID>", one a line, and stops.
#include <windows.h>
#include <sddl.h>
#include <string>

namespace {

const wchar_t kName[] = L"QuendalTestLauncher";
SERVICE_STATUS_HANDLE g_status = nullptr;
std::wstring g_job;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    SetServiceStatus(g_status, &status);
}

std::string ReadAll(const std::wstring& path)
{
    std::string bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof(buffer), &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(f);
    return bytes;
}

std::string UserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "(none)";
    BYTE buffer[512];
    DWORD size = 0;
    std::string text = "(none)";
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text.clear();
        for (const wchar_t* p = sid; *p; ++p)
            text += static_cast<char>(*p);
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

void RunJob()
{
    const std::string utf8 = ReadAll(g_job);
    std::wstring job(utf8.size() + 1, L'\0');
    job.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &job[0],
                                   static_cast<int>(job.size())));
    const std::size_t newline = job.find(L'\n');
    const std::wstring folder = job.substr(0, newline);
    std::wstring command = newline == std::wstring::npos ? std::wstring() : job.substr(newline + 1);
    // A program named without a folder is looked for in the current one.
    SetCurrentDirectoryW(folder.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    DWORD code = 0xFFFFFFFF;
    command.push_back(L'\0');
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    const std::string result = "exit=" + std::to_string(code) + "\nuser=" + UserSid() + "\n";
    const std::wstring temp = g_job + L".result.tmp";
    HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    WriteFile(f, result.data(), static_cast<DWORD>(result.size()), &done, nullptr);
    CloseHandle(f);
    // Whole or not at all, for the test that waits for it.
    MoveFileExW(temp.c_str(), (g_job + L".result").c_str(), MOVEFILE_REPLACE_EXISTING);
}

DWORD WINAPI Control(DWORD, DWORD, void*, void*)
{
    return NO_ERROR;
}

// Called by the service control dispatcher: nothing may unwind out of it.
void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_status = RegisterServiceCtrlHandlerExW(kName, &Control, nullptr);
    Report(SERVICE_RUNNING);
    try {
        RunJob();
    } catch (...) {
        // No result file: the test waiting for it fails on its time-out.
    }
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    g_job = argv[1];
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kName), &ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
