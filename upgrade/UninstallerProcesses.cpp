#include "UninstallerProcesses.h"
#include "../wwlib/RunAndWait.h"
#include <windows.h>

unsigned long UninstallerProcesses::Run(const WString& commandLine)
{
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    if (!job_.valid())
        return RunAndWait(commandLine, true);
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
