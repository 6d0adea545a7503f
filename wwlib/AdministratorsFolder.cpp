#include "AdministratorsFolder.h"
#include "ErrorText.h"
#include "FileLinks.h"
#include "InstallError.h"
#include "NoCrtRandom.h"
#include "SystemError.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <aclapi.h>

namespace WWLib {

namespace {

const DWORD kAllFileRights = 0x001F01FF;
// What lets a holder put, change or remove a file inside, or hand the folder on.
const DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                            MAXIMUM_ALLOWED;

} // namespace

// An elevated administrator's objects belong to Administrators; where the
// system makes them the user's instead (Windows XP with that policy, and
// Wine, which reports the user as every file's owner), the user has no
// unelevated half that could have made the object, and is trusted too.
bool AdministratorsFolder::TrustedOwner(PSID owner)
{
    if (!owner)
        return false;
    static const Sid admins = Sid::Administrators();
    static const Sid trusted[] = {admins, Sid::LocalSystem(), Sid::TrustedInstaller(), Sid::ProcessOwner()};
    for (const Sid& sid : trusted)
        if (sid.Equals(owner))
            return true;
    return !admins.Equals(Sid::ProcessOwner().Get()) && Sid::ProcessUser().Equals(owner);
}

namespace {

// Who may write into the folder: administrators and the system, and the user
// where the user is the default owner (as for a trusted owner; Wine also shows
// a folder's list as its Unix permissions, the owner's entry as the user's).
bool MayChange(PSID sid)
{
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    return system.Equals(sid) || admins.Equals(sid) ||
           (!admins.Equals(Sid::ProcessOwner().Get()) && Sid::ProcessUser().Equals(sid));
}

// Makes `dir` with the administrators' security: the Windows error, 0 when
// it was made. A process that may not name Administrators as an owner (not
// elevated) gets the default owner, with the same list; the checks that
// follow decide.
DWORD CreateSecured(const WString& dir)
{
    AdministratorsFolder::Security security;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), security.sd.Get(), FALSE};
    if (CreateDirectoryW(dir.c_str(), &sa))
        return 0;
    const DWORD err = GetLastError();
    if (err != ERROR_INVALID_OWNER)
        return err;
    security.sd.SetOwner(Sid());
    return CreateDirectoryW(dir.c_str(), &sa) ? 0 : GetLastError();
}

void CreateTrusted(const WString& dir)
{
    const DWORD err = CreateSecured(dir);
    if (err && err != ERROR_ALREADY_EXISTS)
        ThrowCallFailed(L"CreateDirectoryW()", err);
}

// Why the folder at `dir` is not trusted, read through a handle to the
// folder itself (a link is opened as the link, never followed); empty when
// it is. `exists` says whether there is anything at `dir`.
WString DistrustAt(const WString& dir, bool& exists)
{
    exists = false;
    HANDLE h = CreateFileW(dir.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return WString();
        exists = true;
        return L"it cannot be opened: " + WindowsErrorTextWithCode(err);
    }
    exists = true;
    NoCrtHandle folder(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info) || !WWLib::OpenedAsNamed(folder.get(), dir))
        return L"it is a link";
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"it is not a folder";
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD r = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &sd);
    if (r != ERROR_SUCCESS)
        return L"its access control cannot be read";
    NoCrtLocalMem hold(sd);
    return AdministratorsFolder::Distrust(sd);
}

WString Refused(const WString& dir, const WString& distrust)
{
    return L"The folder '" + dir + L"' is not the installer's own (" + distrust + L")";
}

// A link goes aside as the link; where the system moved what it points at
// instead (Wine does), that goes back to its place, and the folder is not
// the installer's to use.
WString MoveAside(const WString& dir, const WString& distrust)
{
    const WString target = WWLib::FinalPathOf(dir);
    const bool link = WWLib::IsReparsePoint(dir) || (!target.empty() && !EqualNoCase(target, dir));
    for (unsigned n = 1; n < 100; ++n) {
        wchar_t digits[8];
        FormatUnsigned(n, 1, 10, digits);
        const WString aside = dir + L" (not the installer's " + digits + L")";
        if (MoveFileExW(dir.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (link && !WWLib::IsReparsePoint(aside)) {
                if (!target.empty())
                    MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
                throw InstallError(Refused(dir, distrust) +
                                   L" and cannot be moved aside: the system moves what the link points at");
            }
            return L"Warning: the folder '" + dir + L"' is not the installer's own (" + distrust +
                   L"); it was moved to '" + aside + L"', and the installer makes its own";
        }
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS)
            throw InstallError(Refused(dir, distrust) + L" and cannot be moved aside: " +
                               WindowsErrorTextWithCode(err));
    }
    throw InstallError(Refused(dir, distrust));
}

} // namespace

AdministratorsFolder::Security::Security()
{
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    list.Add(system, kAllFileRights);
    list.Add(admins, kAllFileRights);
    acl.Make(list);
    sd.SetOwner(admins);
    sd.SetDacl(acl.Get());
    sd.ProtectDacl();
}

WString AdministratorsFolder::Distrust(PSECURITY_DESCRIPTOR sd)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !TrustedOwner(owner))
        return L"its owner is not an administrator";
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl)
        return L"anyone may change it";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            return L"its access control cannot be read";
        // Deny entries take nothing away from the administrators; an entry
        // that only passes to what is made inside counts too, since the
        // files that matter are made inside.
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return L"its access control holds entries the installer does not know";
        ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) && !MayChange(&allowed->SidStart))
            return L"others than administrators may change it";
    }
    return WString();
}

WString AdministratorsFolder::Make(const WString& dir)
{
    bool exists = false;
    WString distrust = DistrustAt(dir, exists);
    WString note;
    if (exists && !distrust.empty())
        note = MoveAside(dir, distrust);
    CreateTrusted(dir);
    // Whatever stands there now (made by this run, or by a race) is checked.
    distrust = DistrustAt(dir, exists);
    if (!distrust.empty())
        throw InstallError(Refused(dir, distrust));
    return note;
}

void AdministratorsFolder::CheckExisting(const WString& dir)
{
    bool exists = false;
    WString distrust = DistrustAt(dir, exists);
    if (!distrust.empty())
        throw InstallError(Refused(dir, distrust));
}

namespace {

// A name that cannot be guessed saves a retry; one that can is no weakness,
// since a folder that exists is never taken.
DWORD RandomNumber(int attempt)
{
    DWORD n = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ static_cast<DWORD>(attempt * 7919);
    try {
        NoCrtRandom guard;
        NoCrtRandom::Fill(&n, sizeof(n));
    } catch (const NoCrtRandomException&) {
    }
    return n;
}

} // namespace

WString AdministratorsFolder::MakeNew(const WString& parent, const wchar_t* prefix)
{
    const WString base = parent.size() && parent[parent.size() - 1] == L'\\' ? parent : parent + L"\\";
    DWORD err = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 100 && err == ERROR_ALREADY_EXISTS; ++attempt) {
        wchar_t digits[12];
        FormatUnsigned(RandomNumber(attempt), 8, 16, digits);
        const WString dir = base + prefix + L"-" + digits;
        err = CreateSecured(dir);
        if (!err)
            return dir;
    }
    throw SystemError(L"CreateDirectoryW()", err);
}

} // namespace WWLib
