#include "RunAndWait.h"
#include "ErrorText.h"
#include "InstallError.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <windows.h>

unsigned long RunAndWait(const WString& commandLine, bool inheritHandles)
{
    WString buffer = commandLine; // CreateProcessW may write into its command line
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
#ifndef _WIN64
    static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW is 68 bytes");
#endif
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, buffer.buffer(), nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, &si,
                        &pi)) {
        DWORD err = GetLastError();
        throw InstallError(L"CreateProcessW() failed: " + WWLib::WindowsErrorTextWithCode(err));
    }
    NoCrtHandle process(pi.hProcess);
    NoCrtHandle thread(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code) || code == STILL_ACTIVE) {
        TerminateProcess(pi.hProcess, 0);
        return STILL_ACTIVE;
    }
    return code;
}
