#include "UninstallerProcesses.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"
#include <windows.h>

unsigned long UninstallerProcesses::Run(const WString& commandLine)
{
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    WString buffer = commandLine; // CreateProcessW may write into its command line
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, buffer.buffer(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                        &pi)) {
        DWORD err = GetLastError();
        throw InstallError(L"CreateProcessW() failed: " + WWLib::WindowsErrorTextWithCode(err));
    }
    NoCrtHandle process(pi.hProcess);
    NoCrtHandle thread(pi.hThread);
    // Windows before 8 cannot put a process into a second job: an installer
    // that runs in a job of its own cannot track the uninstaller.
    tracked_ = job_.valid() && AssignProcessToJobObject(job_.get(), pi.hProcess);
    ResumeThread(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code) || code == STILL_ACTIVE) {
        TerminateProcess(pi.hProcess, 0);
        return STILL_ACTIVE;
    }
    return code;
}

bool UninstallerProcesses::AllEnded() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    if (!tracked_ ||
        !QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr))
        return false;
    return info.ActiveProcesses == 0;
}
