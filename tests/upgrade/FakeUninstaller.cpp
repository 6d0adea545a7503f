// Stands in for the product's uninstaller in the result-protocol tests. It
// appends its command line to the file QUENDAL_FAKE_UNINSTALL_LOG and acts as
// QUENDAL_FAKE_UNINSTALL says:
//   exit:<code>            exits with <code>
//   channel:<value>        writes <value> into the result block, signals the
//                          event, and exits with 1
//   copy:<value>           starts itself again as channel:<value> with the same
//                          arguments and inherited handles, and exits with 1
//                          before the copy reports, as the real one does
//   linger:<ms>            starts itself again as sleep:<ms> and exits with 0:
//                          a process of it that ends after its result
//   sleep:<ms>             waits <ms> milliseconds and exits with 0
//   hold:<path>            opens the file without sharing and waits (a
//                          program that holds a file of the installation)
//   load:<path>            loads the library and waits (an event viewer
//                          holding a message library)
// Numbers are hexadecimal, but the milliseconds.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[2048] = {};
    DWORD n = GetEnvironmentVariableW(name, buf, 2048);
    return n && n < 2048 ? std::wstring(buf, n) : std::wstring();
}

ULONG_PTR HexOption(int argc, wchar_t** argv, const wchar_t* prefix)
{
    std::size_t n = std::wcslen(prefix);
    for (int i = 1; i < argc; ++i)
        if (std::wcsncmp(argv[i], prefix, n) == 0)
            return static_cast<ULONG_PTR>(std::wcstoull(argv[i] + n, nullptr, 16));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring log = Env(L"QUENDAL_FAKE_UNINSTALL_LOG");
    if (!log.empty()) {
        FILE* f = _wfopen(log.c_str(), L"ab");
        if (f) {
            char line[8192] = {};
            int n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof(line) - 2, nullptr, nullptr);
            if (n > 0) {
                line[n - 1] = '\n';
                std::fwrite(line, 1, static_cast<std::size_t>(n), f);
            }
            std::fclose(f);
        }
    }
    std::wstring mode = Env(L"QUENDAL_FAKE_UNINSTALL");
    if (mode.rfind(L"channel:", 0) == 0) {
        std::wstring delay = Env(L"QUENDAL_FAKE_UNINSTALL_DELAY");
        if (!delay.empty())
            Sleep(static_cast<DWORD>(std::wcstoul(delay.c_str(), nullptr, 10)));
        auto mapping = reinterpret_cast<HANDLE>(HexOption(argc, argv, L"-result="));
        auto done = reinterpret_cast<HANDLE>(HexOption(argc, argv, L"-done="));
        void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 4);
        if (!view || !done)
            return 0x20000;
        *static_cast<DWORD*>(view) = static_cast<DWORD>(std::wcstoul(mode.c_str() + 8, nullptr, 16));
        UnmapViewOfFile(view);
        SetEvent(done);
        return 1;
    }
    if (mode.rfind(L"copy:", 0) == 0) {
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", (L"channel:" + mode.substr(5)).c_str());
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_DELAY", L"1500");
        std::wstring line = GetCommandLineW();
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
            return 0x20000;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return 1;
    }
    if (mode.rfind(L"linger:", 0) == 0) {
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", (L"sleep:" + mode.substr(7)).c_str());
        std::wstring line = GetCommandLineW();
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return 0x20000;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return 0;
    }
    if (mode.rfind(L"hold:", 0) == 0) {
        if (CreateFileW(mode.c_str() + 5, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE)
            return 0x20000;
        Sleep(INFINITE);
    }
    if (mode.rfind(L"load:", 0) == 0) {
        if (!LoadLibraryW(mode.c_str() + 5))
            return 0x20000;
        Sleep(INFINITE);
    }
    if (mode.rfind(L"sleep:", 0) == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(mode.c_str() + 6, nullptr, 10)));
        return 0;
    }
    if (mode.rfind(L"exit:", 0) == 0)
        return static_cast<int>(std::wcstoul(mode.c_str() + 5, nullptr, 16));
    return 0;
}
