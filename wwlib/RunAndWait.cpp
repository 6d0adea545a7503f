#include "RunAndWait.h"
#include "ErrorText.h"
#include "InstallError.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"

namespace {

unsigned long Run(const WString& commandLine, bool inheritHandles, HANDLE job, bool* inJob)
{
    WString buffer = commandLine; // CreateProcessW may write into its command line
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
#ifndef _WIN64
    static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW is 68 bytes");
#endif
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, buffer.buffer(), nullptr, nullptr, inheritHandles, job ? CREATE_SUSPENDED : 0,
                        nullptr, nullptr, &si, &pi)) {
        DWORD err = GetLastError();
        throw InstallError(L"CreateProcessW() failed: " + WWLib::WindowsErrorTextWithCode(err));
    }
    NoCrtHandle process(pi.hProcess);
    NoCrtHandle thread(pi.hThread);
    if (job) {
        *inJob = AssignProcessToJobObject(job, pi.hProcess) != FALSE;
        ResumeThread(pi.hThread);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code) || code == STILL_ACTIVE) {
        TerminateProcess(pi.hProcess, 0);
        return STILL_ACTIVE;
    }
    return code;
}

} // namespace

unsigned long RunAndWait(const WString& commandLine, bool inheritHandles)
{
    return Run(commandLine, inheritHandles, nullptr, nullptr);
}

unsigned long RunAndWaitInJob(const WString& commandLine, bool inheritHandles, HANDLE job, bool& inJob)
{
    inJob = false;
    return Run(commandLine, inheritHandles, job, &inJob);
}

WString ExitCodeReason(unsigned long code)
{
    wchar_t digits[16];
    FormatUnsigned(code & 0xFFFFFFFFul, 8, 16, digits);
    return WString(L"Error code 0x") + digits + L" received";
}
