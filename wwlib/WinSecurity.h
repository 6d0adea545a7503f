#pragma once
#include "../nocrtlib/NoCopy.h"
#include <windows.h>

// One privilege of the process token, shared by the whole process. Enabling
// counts: the privilege is disabled again when the last enabler releases it,
// unless the token had it enabled before this program asked. A privilege the
// token does not hold is found out once; later enablers fail at once.
// Enable and Release run under one process-wide lock.
class PrivilegeHolder : NoCopy {
public:
    enum State { Unknown = 0, NotAvailable = 1, Held = 2, Enabled = 3 };

    explicit PrivilegeHolder(const wchar_t* name) : name_(name) {}

    // Enables the privilege (or counts one more user); false with the thread's
    // last error set when the token does not hold it or the change fails.
    bool Enable();
    void Release();

    State GetState() const { return state_; }
    long Count() const { return m_count; }
    const wchar_t* Name() const { return name_; }

    static PrivilegeHolder& Shutdown();      // "SeShutdownPrivilege"
    static PrivilegeHolder& TakeOwnership(); // "SeTakeOwnershipPrivilege"

private:
    const wchar_t* name_;
    State state_ = Unknown;
    DWORD error_ = 0;
    LUID luid_ = {};
    long m_count = 0;
    bool enabledBefore_ = false;
};

// Enables a privilege for the scope it lives in.
class PrivilegeEnabler : NoCopy {
public:
    explicit PrivilegeEnabler(PrivilegeHolder& holder) : holder_(holder) {}
    ~PrivilegeEnabler();
    // The first call enables; later calls repeat its answer (and its error).
    bool Try();

private:
    PrivilegeHolder& holder_;
    bool tried_ = false;
    bool result_ = false;
    DWORD error_ = 0;
};
