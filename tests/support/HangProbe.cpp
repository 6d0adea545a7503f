// A program that never ends by itself, for the test of the suite's time
// limits: two processes (this one and a child copy of it), the first with a
// second thread, each waiting forever in a function of its own, so that the
// backtraces printed when the limit runs out can be told apart.
//
//   hang_probe.exe          starts the child, then hangs
//   hang_probe.exe child    hangs
#include <windows.h>
#include <cstdio>
#include <cwchar>

// Kept out of line and named, so that a backtrace shows them.
extern "C" [[noreturn]] __attribute__((noinline)) void HangProbeMainThreadWaits()
{
    for (;;)
        Sleep(1000);
}

extern "C" __attribute__((noinline)) DWORD WINAPI HangProbeWorkerThreadWaits(void*)
{
    for (;;)
        Sleep(1000);
}

extern "C" [[noreturn]] __attribute__((noinline)) void HangProbeChildProcessWaits()
{
    for (;;)
        Sleep(1000);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"child") == 0) {
        std::printf("hang probe: child waiting\n");
        std::fflush(stdout);
        HangProbeChildProcessWaits();
    }
    wchar_t self[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, self, MAX_PATH))
        return 1;
    wchar_t command[MAX_PATH + 16];
    std::swprintf(command, sizeof(command) / sizeof(command[0]), L"\"%ls\" child", self);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 2;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    HANDLE worker = CreateThread(nullptr, 0, HangProbeWorkerThreadWaits, nullptr, 0, nullptr);
    if (!worker)
        return 3;
    CloseHandle(worker);
    std::printf("hang probe: parent waiting\n");
    std::fflush(stdout);
    HangProbeMainThreadWaits();
}
