#pragma once
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"
#include "CReg.h"

namespace WWLib {

// A process that holds a file: its id and its program.
struct FileHolder {
    unsigned long processId;
    WString program; // empty when the process will not say
};

// Who holds each of a set of files (canonical paths of existing files).
struct HeldPath {
    WString path;
    // A handle that does not share deletion is open on it: deleting it now
    // fails. A program's image or a loaded library is no such handle.
    bool openAgainstDeletion = false;
    // The processes (other than this one) that have it open or loaded, as far
    // as the system can say: the Restart Manager where Windows has it (bound
    // at run time), else the system's handle table, and every process's
    // loaded modules.
    NoCrtVector<FileHolder> holders;
};

// Looks at each of `paths`; never throws.
NoCrtVector<HeldPath> FindFileHolders(const WStringList& paths) noexcept;

} // namespace WWLib
