#pragma once
#include "MakeInstallDir.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../wwlib/AccessControl.h"
#include <memory>

// Creates the installation directory with a protected access control list:
// the system and administrators may change it, authenticated users (everyone
// before Windows 2000) may read and run; Administrators become its owner (a
// user who made the folder first would otherwise keep the right to change
// its list). Securing that fails, the owner included, goes to the securing
// policy once (108); after it the directory is made without it. A directory
// that existed gets its own access control list back on rollback; its owner
// stays Administrators.
//
// Once made, the directory is opened as itself and held open, without
// letting it be renamed or deleted, until the step is committed or undone:
// what is checked and secured is what the package is written into. A link
// there then ends the run (101).
class SecuredInstallDir {
public:
    SecuredInstallDir() = default;
    ~SecuredInstallDir();
    SecuredInstallDir(const SecuredInstallDir&) = delete;
    SecuredInstallDir& operator=(const SecuredInstallDir&) = delete;

    // The support check alone: a volume without persistent ACLs goes to the policy.
    void CheckAclSupport();
    // Creates and secures installDir of the settings.
    void Secure();
    void Commit();

    bool Unsecured() const { return unsecured; }
    // Whether the directory's owner is Administrators, SYSTEM or
    // TrustedInstaller after Secure (or its owner was set to that).
    bool OwnerTrusted() const { return ownerTrusted; }
    const MakeInstallDir* DirStep() const { return dirStep.get(); }

    // The entries the directory gets, in order.
    static void BuildAccessList(AccessList& list);
    // True when a directory's DACL was set up by hand and must be kept: it is
    // automatically inherited and either protected or has an explicit entry,
    // and the directory's owner is Administrators, SYSTEM or TrustedInstaller.
    // A list that someone else set up (a user who made the folder first) is
    // replaced: the service that runs from the folder runs as SYSTEM.
    static bool DaclSetByHand(SECURITY_DESCRIPTOR_CONTROL control, PACL dacl, PSID owner);
    // Administrators, SYSTEM or TrustedInstaller.
    static bool TrustedOwner(PSID owner);
    // What the securing policy reports when the owner cannot be set.
    static WString OwnerFailureReason(DWORD error);

private:
    void ApplyPolicy(const WString& reason);
    void ApplyAcl(PACL acl);
    void HoldDirectory();

    NoCrtHandle held; // the directory, while the installation writes into it
    bool ownerTrusted = false;
    bool unsecured = false;
    bool committed = false;
    WString originalSecurity; // of a directory that existed, as the journal stores it
    std::unique_ptr<MakeInstallDir> dirStep;
};
