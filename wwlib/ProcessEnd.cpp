#include "ProcessEnd.h"
#include "CanonicalPath.h"
#include "DllLoader.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <tlhelp32.h>

namespace WWLib {

WString ProcessImagePath(unsigned long pid)
{
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    Query query = nullptr;
    try {
        query = ProcessKernel32().Proc<Query>("QueryFullProcessImageNameW");
    } catch (const std::exception&) {
        // Before Windows Vista: the first module names the program.
    }
    if (query) {
        // PROCESS_QUERY_LIMITED_INFORMATION (Vista), which protected processes allow.
        NoCrtHandle process(OpenProcess(0x1000, FALSE, pid));
        wchar_t image[1024];
        DWORD size = 1024;
        if (process.valid() && query(process.get(), 0, image, &size))
            return WString(image, size);
        return WString();
    }
    NoCrtHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (!snap.valid())
        return WString();
    MODULEENTRY32W module = {};
    module.dwSize = sizeof(module);
    return Module32FirstW(snap.get(), &module) ? WString(module.szExePath) : WString();
}

unsigned EndProcessesRunning(const WStringList& programs, void (*said)(const WString& program)) noexcept
{
    unsigned ended = 0;
    try {
        if (programs.empty())
            return 0;
        NoCrtHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snap.valid())
            return 0;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snap.get(), &entry); more; more = Process32NextW(snap.get(), &entry)) {
            if (entry.th32ProcessID == GetCurrentProcessId())
                continue;
            WString image = CanonicalOrEmpty(ProcessImagePath(entry.th32ProcessID));
            bool ours = false;
            for (std::size_t i = 0; i < programs.size() && !ours; ++i)
                ours = !image.empty() && EqualNoCase(image, programs[i]);
            if (!ours)
                continue;
            NoCrtHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (!process.valid())
                continue;
            if (said)
                said(image);
            if (TerminateProcess(process.get(), 1)) {
                WaitForSingleObject(process.get(), 5000);
                ++ended;
            }
        }
    } catch (...) {
        // What could not be ended holds its file: the removal that follows says so.
    }
    return ended;
}

} // namespace WWLib
