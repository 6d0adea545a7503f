#pragma once
#include "../nocrtlib/NoCopy.h"

// Base of every install step: the step does its work in its constructor and
// undoes it in its destructor unless it was committed first (and -noRollback
// was not given). Steps are named locals destroyed by their exact type, in
// reverse order of construction, so the destructor need not be virtual.
class OperationWithRollback : NoCopy {
public:
    virtual void Commit() { committed = true; }

protected:
    OperationWithRollback() = default;
    ~OperationWithRollback() = default;
    // True when the destructor is to undo the step's work: not committed,
    // rollback allowed, and the work itself done.
    bool ShouldRollBack(bool done) const;

    bool committed = false;
};
