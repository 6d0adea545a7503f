#include "SecuredInstallDir.h"
#include "undo/UndoSecurity.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "StepReport.h"
#include "TargetDirectory.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/WinSecurity.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/SystemInfo.h"
#include "../wwlib/Volume.h"
#include <aclapi.h>

namespace {

const DWORD kAllFileRights = 0x001F01FF;
const DWORD kReadAndExecute = 0xA0000000; // generic read | generic execute

struct SecurityBlock {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ~SecurityBlock()
    {
        if (sd)
            LocalFree(sd);
    }
};

} // namespace

void SecuredInstallDir::BuildAccessList(AccessList& list)
{
    // Built once per process and kept until exit.
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    static const Sid users = WWLib::AtLeastNt5() ? Sid::AuthenticatedUsers() : Sid::Everyone();
    list.Add(system, kAllFileRights);
    list.Add(admins, kAllFileRights);
    list.Add(users, kReadAndExecute);
}

bool SecuredInstallDir::TrustedOwner(PSID owner)
{
    static const Sid trusted[] = {Sid::Administrators(), Sid::LocalSystem(), Sid::TrustedInstaller()};
    for (const Sid& sid : trusted)
        if (sid.Equals(owner))
            return true;
    return false;
}

bool SecuredInstallDir::DaclSetByHand(SECURITY_DESCRIPTOR_CONTROL control, PACL dacl, PSID owner)
{
    if (!(control & SE_DACL_AUTO_INHERITED) || !TrustedOwner(owner))
        return false;
    if (control & SE_DACL_PROTECTED)
        return true;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && !(ace->AceFlags & INHERITED_ACE))
            return true;
    }
    return false;
}

void SecuredInstallDir::ApplyPolicy(const WString& reason)
{
    if (unsecured)
        return;
    unsecured = true;
    ReportStepFailure(StepKind::SecuringDirectory, TheInstallSettings().installDir, reason);
}

void SecuredInstallDir::CheckAclSupport()
{
    if (unsecured)
        return;
    DWORD flags;
    try {
        flags = VolumeFlagsOf(TheInstallSettings().installDir.c_str());
    } catch (const SystemError&) {
        return; // the volume cannot tell: nothing to warn about
    }
    if (!(flags & FS_PERSISTENT_ACLS))
        ApplyPolicy(L"Access control is not supported by the underlaying file system.");
}

void SecuredInstallDir::Secure()
{
    CheckAclSupport();
    dirStep.reset();
    const WString& dir = TheInstallSettings().installDir;
    AccessList list;
    AclHolder acl;
    if (!unsecured) {
        try {
            BuildAccessList(list);
            acl.Make(list);
            SecurityDescriptor sd;
            sd.SetDacl(acl.Get());
            sd.ProtectDacl();
            SECURITY_ATTRIBUTES sa = {sizeof(sa), sd.Get(), FALSE};
            dirStep.reset(new MakeInstallDir(dir, &sa, MakeInstallDir::SecurityHereOnly));
        } catch (const SilentExit&) {
            throw;
        } catch (const std::exception& e) {
            ApplyPolicy(ReasonOf(e));
        }
    }
    if (!dirStep)
        dirStep.reset(new MakeInstallDir(dir, nullptr, MakeInstallDir::SecurityHereOnly));
    HoldDirectory();
    if (!unsecured)
        ApplyAcl(acl.Get());
}

void SecuredInstallDir::HoldDirectory()
{
    const WString& dir = TheInstallSettings().installDir;
    // Opened as itself (a link as the link), and not shared for deletion:
    // while held, nobody can rename it or put a link in its place. The
    // share mode counts only for a handle with data access (listing).
    HANDLE h = CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        RefuseTarget(dir, L"it cannot be opened: " + WWLib::WindowsErrorText(GetLastError()));
    held.reset(h);
    if (!WWLib::OpenedAsNamed(held.get(), dir)) {
        held.reset();
        RefuseTarget(dir, kTargetIsLink);
    }
}

void SecuredInstallDir::ApplyAcl(PACL acl)
{
    const WString& dir = TheInstallSettings().installDir;
    SecurityBlock current;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    if (GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &current.sd) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        ownerTrusted = TrustedOwner(owner);
        try {
            GetControl(current.sd, control);
            if (DaclSetByHand(control, dacl, owner))
                return;
        } catch (const SystemError&) {
            // Unreadable: the list below replaces it.
        }
        // The directory was there before this run: what it had comes back
        // on rollback, also after the run was killed.
        if (!dirStep->Created() && IsValidSecurityDescriptor(current.sd)) {
            originalSecurity = UndoSecurity::Encode(current.sd, GetSecurityDescriptorLength(current.sd));
            InstallJournal::Record(UndoKind::Security, dir, originalSecurity);
        }
    }
    // Administrators become the owner: a user who made the folder first
    // keeps, as its owner, the right to change its list. Taking the folder
    // from its owner needs the privilege, which an administrator holds.
    static const Sid admins = Sid::Administrators();
    DWORD ownerResult = ERROR_SUCCESS;
    {
        PrivilegeEnabler takeOwnership(PrivilegeHolder::TakeOwnership());
        takeOwnership.Try(); // without it, the call below says why it fails
        ownerResult = SetNamedSecurityInfoW(const_cast<wchar_t*>(dir.c_str()), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                PROTECTED_DACL_SECURITY_INFORMATION,
                                            admins.Get(), nullptr, acl, nullptr);
    }
    if (ownerResult == ERROR_SUCCESS) {
        ownerTrusted = true;
        return;
    }
    DWORD r = SetNamedSecurityInfoW(const_cast<wchar_t*>(dir.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, acl, nullptr);
    if (r != ERROR_SUCCESS)
        ApplyPolicy(UndoSecurity::SetFailureReason(r));
    else if (!ownerTrusted)
        ApplyPolicy(OwnerFailureReason(ownerResult));
}

WString SecuredInstallDir::OwnerFailureReason(DWORD error)
{
    return L"the owner cannot be made Administrators: " + UndoSecurity::SetFailureReason(error);
}


void SecuredInstallDir::Commit()
{
    committed = true;
    held.reset();
    if (dirStep)
        dirStep->Commit();
}

SecuredInstallDir::~SecuredInstallDir()
{
    held.reset(); // before the directory step removes what it made
    if (!committed && !TheInstallSettings().noRollback && !originalSecurity.empty())
        UndoSecurity::Restore(TheInstallSettings().installDir, originalSecurity);
}
