#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>
#include <memory>

// Creates one directory, after its missing parents (each an owned step of its
// own, so parents are created outermost first and removed innermost last).
// Rolling back removes only what this step created. A directory that exists
// is used as it is. A path that is a file, or a directory that cannot be
// created, ends the run (101, 102 unattended; 103, 101 interactive).
class MakeInstallDir : public OperationWithRollback {
public:
    enum Flags : unsigned {
        NoParents = 2,      // do not create a missing parent
        SecurityHereOnly = 4 // parents get default security
    };

    MakeInstallDir(const WString& path, SECURITY_ATTRIBUTES* security, unsigned flags);
    ~MakeInstallDir();
    void Commit() override;

    const WString& Path() const { return path; }
    bool Created() const { return created; }

private:
    WString path;
    bool created = false;
    std::unique_ptr<MakeInstallDir> parent;
};

// The folder a directory's missing parent would be made in, or empty when no
// parent is ever created for it (a drive, a server, no folder above).
WString CreatableParentOf(const WString& path);
