#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

// Starts `commandLine` as a child process that shares this console, waits
// without a time limit and returns its exit code. A child whose exit code
// cannot be read, or reads as still active (259), is terminated and 259
// returned. A start failure throws InstallError "CreateProcessW() failed: ...".
unsigned long RunAndWait(const WString& commandLine, bool inheritHandles);

// The same, with the child (and so whatever it starts) put into `job` before
// it runs its first instruction. `inJob` tells whether that worked: Windows
// before 8 cannot put a process of a job into a second one.
unsigned long RunAndWaitInJob(const WString& commandLine, bool inheritHandles, HANDLE job, bool& inJob);

// The text an exit code other than 0 of a registration program is reported
// with: "Error code 0x<eight hex digits> received".
WString ExitCodeReason(unsigned long code);
