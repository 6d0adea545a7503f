#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtString.h"

// The previous uninstaller and every process it starts (the copy of itself
// that does the work) in a job of their own, so that the installer can tell
// when all of them have ended, whether or not they reported a result.
class UninstallerProcesses : NoCopy {
public:
    // Starts the command with handles inherited and waits for its first
    // process, as RunAndWait does; that process's exit code. A failed start
    // throws InstallError "CreateProcessW() failed: ...".
    unsigned long Run(const WString& commandLine);
    // Whether the job could be set up; without it nothing can be told.
    bool Tracked() const { return tracked_; }
    // Whether every process of the job has ended.
    bool AllEnded() const;

private:
    NoCrtHandle job_;
    bool tracked_ = false;
};
