#pragma once
#include "../nocrtlib/NoCrtString.h"

// The folders the installation writes into. Each asks the shell first (when
// its version has the special-folder function; a missing folder is created)
// and falls back to the registry values older systems keep. Each may be empty.
WString GetProgramFilesDir();
WString GetProgramsDir();
WString GetCommonProgramsDir();
WString GetCommonAdminToolsDir();
