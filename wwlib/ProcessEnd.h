#pragma once
#include "../nocrtlib/NoCrtString.h"
#include "CReg.h"

namespace WWLib {

// The full path of a running process's program; empty when the process is
// gone or will not say (QueryFullProcessImageNameW where the system has it,
// the process's first module before).
WString ProcessImagePath(unsigned long pid);

// Ends every process (but this one) whose program is one of `programs`
// (canonical paths, case ignored), calling `said` with each program's path
// before it ends it, and waits a few seconds for each to go. Returns how many
// it ended. Never throws.
unsigned EndProcessesRunning(const WStringList& programs, void (*said)(const WString& program)) noexcept;

} // namespace WWLib
