#include "Installer.h"
#include <doctest/doctest.h>

namespace Test {

ChildResult Install(const std::wstring& args)
{
    return RunCaptured(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + args, 120000);
}

std::vector<std::wstring> LinesOf(const ChildResult& r)
{
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < r.text.size()) {
        std::size_t end = r.text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = r.text.size();
        lines.push_back(r.text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    for (const std::wstring& l : lines)
        if (l == line)
            return true;
    return false;
}

std::string Joined(const std::vector<std::wstring>& lines)
{
    std::wstring all;
    for (const std::wstring& l : lines)
        all += l + L"\n";
    return Narrow(all);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void KillInstallerAt(const std::wstring& args, const wchar_t* rule, const std::wstring& line,
                     const wchar_t* program, bool leaveRunning)
{
    {
        ForcedExit forced(rule);
        CapturedChild child(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + args);
        CHECK(child.WaitForLine(line));
        if (program)
            CHECK(WaitForProcess(program));
        TerminateProcess(child.Process(), 1);
        WaitForSingleObject(child.Process(), 10000);
    }
    if (program && !leaveRunning)
        KillProcesses(program);
}

ForcedExit::~ForcedExit()
{
    SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", nullptr);
    // The marks of the rules that end a program once.
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((std::wstring(temp) + L"quendal-forced-exit-*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do
        DeleteFileW((std::wstring(temp) + fd.cFileName).c_str());
    while (FindNextFileW(h, &fd));
    FindClose(h);
}

void UninstallThroughEntry(const std::wstring& site)
{
    std::wstring command = RegString(HKEY_LOCAL_MACHINE, kUninstall + site, L"UninstallString");
    REQUIRE(command != L"(none)");
    ChildResult r = RunCaptured(command + L"-unat");
    // It waits for the copy that does the work, and ends with its result.
    CAPTURE(Narrow(r.text));
    CHECK(r.exitCode == 0);
    CHECK_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstall + site));
}

void StartService(const wchar_t* name)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    REQUIRE(scm != nullptr);
    SC_HANDLE svc = OpenServiceW(scm, name, SERVICE_START);
    CHECK(svc != nullptr);
    if (svc) {
        CHECK(StartServiceW(svc, 0, nullptr));
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
}

void PressCtrlC(const std::wstring& programs)
{
    // The script's path is a Unix one: the shell reads it.
    StartDetached(L"Z:\\bin\\sh \"" + Env(L"QUENDAL_UNIX_SIGNAL") + L"\" INT " + programs);
}

} // namespace Test
