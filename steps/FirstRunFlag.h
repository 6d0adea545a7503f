#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Tells the server that it runs for the first time ("FirstRunFlag" 1 under
// the maker's key of the site), unless a settings file of an earlier
// installation is still there. Undone on rollback: the value goes, and the
// site's key with it when this step made the key.
class FirstRunFlag : public OperationWithRollback {
public:
    FirstRunFlag(const WString& installDir, const WString& site);
    ~FirstRunFlag();

private:
    WString keyPath_;
    bool written_ = false;
    bool keyCreated_ = false;
};
