#include "AccessControl.h"
#include "DllLoader.h"
#include "SystemError.h"
#include "SystemInfo.h"

void AccessList::Add(const Sid& sid, DWORD mask)
{
    Sid& kept = sids_.emplace_back(sid);
    EXPLICIT_ACCESS_W e;
    ZeroMemory(&e, sizeof(e));
    e.grfAccessPermissions = mask;
    e.grfAccessMode = SET_ACCESS;
    e.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    e.Trustee.pMultipleTrustee = nullptr;
    e.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    e.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    e.Trustee.ptstrName = static_cast<LPWSTR>(kept.Get());
    entries_.push_back(e);
}

AclHolder::~AclHolder()
{
    if (acl_)
        LocalFree(acl_);
}

void AclHolder::Make(AccessList& list)
{
    if (acl_) {
        LocalFree(acl_);
        acl_ = nullptr;
    }
    DWORD r = SetEntriesInAclW(list.Count(), list.Entries(), nullptr, &acl_);
    if (r != ERROR_SUCCESS)
        throw SystemError(L"SetEntriesInAcl()", r);
}

SecurityDescriptor::SecurityDescriptor()
{
    // 20 bytes on 32-bit Windows; the 64-bit layout is larger.
#ifndef _WIN64
    static_assert(sizeof(SECURITY_DESCRIPTOR) == 20, "an absolute descriptor is 20 bytes");
#endif
    sd_ = LocalAlloc(LMEM_ZEROINIT, sizeof(SECURITY_DESCRIPTOR));
    if (!sd_)
        ThrowLastError(L"SecurityDescriptor: LocalAlloc()");
    if (!InitializeSecurityDescriptor(sd_, SECURITY_DESCRIPTOR_REVISION)) {
        DWORD err = GetLastError();
        LocalFree(sd_);
        sd_ = nullptr;
        throw SystemError(L"InitializeSecurityDescriptor()", err);
    }
}

SecurityDescriptor::~SecurityDescriptor()
{
    if (sd_)
        LocalFree(sd_);
}

void SecurityDescriptor::SetDacl(PACL acl)
{
    if (!SetSecurityDescriptorDacl(sd_, TRUE, acl, FALSE))
        ThrowLastError(L"SetSecurityDescriptorDacl()");
}

void SecurityDescriptor::SetOwner(const Sid& owner)
{
    if (!SetSecurityDescriptorOwner(sd_, owner.Get(), FALSE))
        ThrowLastError(L"SetSecurityDescriptorOwner()");
}

void SecurityDescriptor::ProtectDacl()
{
    if (!WWLib::AtLeastNt5())
        return;
    if (!WWLib::ProcessAdvapi32().SetSecurityDescriptorControl(sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        ThrowLastError(L"SetSecurityDescriptorControl()");
}

void GetControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL& control)
{
    if (!WWLib::AtLeastNt5())
        return;
    DWORD revision = 0;
    if (!WWLib::ProcessAdvapi32().GetSecurityDescriptorControl(sd, &control, &revision))
        ThrowLastError(L"GetSecurityDescriptorControl()");
}
