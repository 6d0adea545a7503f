#include "UninstallerProcesses.h"
#include "../wwlib/RunAndWait.h"
#include <windows.h>

unsigned long UninstallerProcesses::Run(const WString& commandLine)
{
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    if (!job_.valid())
        return RunAndWait(commandLine, true);
    // An installer that is killed takes its uninstaller with it: a copy left
    // running would go on removing the old site's folders under the next run
    // of the same command, which finds the lock free and installs there.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    return RunAndWaitInJob(commandLine, true, job_.get(), tracked_);
}

bool UninstallerProcesses::AllEnded() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    if (!tracked_ ||
        !QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr))
        return false;
    return info.ActiveProcesses == 0;
}
