#pragma once
#include "Sid.h"
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtVector.h"
#include <aclapi.h>

// A list of access entries, each granting (set-access) a mask to a well-known
// group, inherited by subfolders and files. The entries point at the Sids
// they were built from, which the list keeps.
class AccessList : NoCopy {
public:
    AccessList() = default;
    void Add(const Sid& sid, DWORD mask);
    ULONG Count() const { return static_cast<ULONG>(entries_.size()); }
    EXPLICIT_ACCESS_W* Entries() { return entries_.data(); }
    const EXPLICIT_ACCESS_W& Entry(std::size_t i) const { return entries_[i]; }

private:
    NoCrtVector<Sid> sids_;
    NoCrtDataVect<EXPLICIT_ACCESS_W> entries_;
};

// An ACL that the system allocated, freed with LocalFree.
class AclHolder : NoCopy {
public:
    AclHolder() = default;
    ~AclHolder();
    PACL Get() const { return acl_; }
    // Replaces the held ACL with one made from the list; a failure throws
    // SystemError "SetEntriesInAcl()" with the code the call returned.
    void Make(AccessList& list);

private:
    PACL acl_ = nullptr;
};

// An absolute security descriptor in a zeroed block from LocalAlloc.
class SecurityDescriptor : NoCopy {
public:
    // Throws SystemError "SecurityDescriptor: LocalAlloc()" or "InitializeSecurityDescriptor()".
    SecurityDescriptor();
    ~SecurityDescriptor();
    PSECURITY_DESCRIPTOR Get() const { return sd_; }
    // Throws SystemError "SetSecurityDescriptorDacl()".
    void SetDacl(PACL acl);
    // The owner, a Sid that outlives the descriptor. Throws SystemError
    // "SetSecurityDescriptorOwner()".
    void SetOwner(const Sid& owner);
    // Marks the DACL protected against inheritance (Windows 2000 and later;
    // nothing on older systems). Throws SystemError "SetSecurityDescriptorControl()".
    void ProtectDacl();

private:
    PSECURITY_DESCRIPTOR sd_ = nullptr;
};

// The control flags of a descriptor (Windows 2000 and later; older systems
// leave `control` as the caller set it). Throws SystemError "GetSecurityDescriptorControl()".
void GetControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL& control);
