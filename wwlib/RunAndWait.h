#pragma once
#include "../nocrtlib/NoCrtString.h"

// Starts `commandLine` as a child process that shares this console, waits
// without a time limit and returns its exit code. A child whose exit code
// cannot be read, or reads as still active (259), is terminated and 259
// returned. A start failure throws InstallError "CreateProcessW() failed: ...".
unsigned long RunAndWait(const WString& commandLine, bool inheritHandles);
