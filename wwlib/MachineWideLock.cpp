#include "MachineWideLock.h"
#include "AdministratorsFolder.h"
#include "FileLinks.h"
#include "InstallError.h"
#include "SystemError.h"
#include "../nocrtlib/NoCrtPath.h"
#include <aclapi.h>

namespace WWLib {

namespace {

const DWORD kMutexRights = MUTEX_ALL_ACCESS;

HANDLE CreateMutexOf(const wchar_t* name, SECURITY_ATTRIBUTES* sa)
{
    HANDLE h = CreateMutexW(sa, FALSE, name);
    if (!h && (GetLastError() == ERROR_PATH_NOT_FOUND || GetLastError() == ERROR_INVALID_NAME)) {
        const wchar_t* slash = name;
        for (const wchar_t* p = name; *p; ++p)
            if (*p == L'\\')
                slash = p + 1;
        h = CreateMutexW(sa, FALSE, slash);
    }
    return h;
}

// Whether a mutex that was there already is the administrators' own. Wine
// gives an object made with the default security no owner at all; Windows
// always names one.
bool MutexTrusted(HANDLE mutex)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &sd) != ERROR_SUCCESS)
        return false;
    NoCrtLocalMem hold(sd);
    return !owner || AdministratorsFolder::TrustedOwner(owner);
}

} // namespace

bool MachineWideLock::TryTake(const wchar_t* name, const WString& lockFile)
{
    Release();
    notes_.clear();
    held_ = TakeMutex(name) && TakeFile(lockFile);
    if (!held_)
        Release();
    return held_;
}

bool MachineWideLock::TakeMutex(const wchar_t* name)
{
    // Only administrators and the system may open a mutex this run makes.
    static const Sid system = Sid::LocalSystem();
    static const Sid admins = Sid::Administrators();
    AccessList list;
    list.Add(system, kMutexRights);
    list.Add(admins, kMutexRights);
    AclHolder acl;
    acl.Make(list);
    SecurityDescriptor sd;
    sd.SetOwner(admins);
    sd.SetDacl(acl.Get());
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd.Get(), FALSE};
    HANDLE h = CreateMutexOf(name, &sa);
    if (!h && GetLastError() == ERROR_INVALID_OWNER) { // not elevated: the default owner
        sd.SetOwner(Sid());
        h = CreateMutexOf(name, &sa);
    }
    if (!h) {
        DWORD err = GetLastError();
        // Someone made the name first with a list that keeps this run out:
        // it is theirs, and the file decides.
        if (err == ERROR_ACCESS_DENIED)
            return PassOver(name);
        throw SystemError(L"CreateMutexW()", err);
    }
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    mutex_.reset(h);
    if (existed && !MutexTrusted(h)) {
        mutex_.reset();
        return PassOver(name);
    }
    DWORD r = WaitForSingleObject(h, 0);
    if (r == WAIT_FAILED)
        throw SystemError(L"WaitForSingleObject()", GetLastError());
    // An abandoned mutex is a killed holder's: whatever it left is for the
    // journal and the next run, not a reason to wait.
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        mutex_.reset();
        return false;
    }
    mutexOwned_ = true;
    return true;
}

bool MachineWideLock::PassOver(const wchar_t* name)
{
    notes_.push_back(L"Warning: the lock '" + WString(name) + L"' is someone else's; it is passed over");
    return true;
}

bool MachineWideLock::TakeFile(const WString& lockFile)
{
    const WString folder = SplitAtLast(lockFile, L'\\').head;
    // A holder that ends removes the folder when it is empty: made again
    // when it went between the two calls.
    for (int attempt = 0; attempt < 5; ++attempt) {
        try {
            const WString note = AdministratorsFolder::Make(folder);
            if (!note.empty())
                notes_.push_back(note);
        } catch (const InstallError& e) {
            // Only where the system cannot move a link aside (Wine): the
            // mutex alone keeps others out, when it is the administrators'.
            WView text = e.Description();
            notes_.push_back(L"Warning: " + WString(text.p, text.len) + L"; the lock file is passed over");
            return true;
        }
        // Held without sharing, and gone when the handle closes, however the
        // process ends; a file a cut left behind is opened and taken.
        HANDLE h = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file_.reset(h);
            folder_ = folder;
            return true;
        }
        DWORD err = GetLastError();
        if (err == ERROR_SHARING_VIOLATION)
            return false;
        if (err != ERROR_PATH_NOT_FOUND)
            throw SystemError(L"CreateFileW()", err);
    }
    throw SystemError(L"CreateFileW()", ERROR_PATH_NOT_FOUND);
}

void MachineWideLock::Release() noexcept
{
    if (file_.valid()) {
        file_.reset();
        RemoveDirectoryW(folder_.c_str()); // stays while it holds a journal
        folder_.clear();
    }
    if (mutex_.valid()) {
        if (mutexOwned_)
            ReleaseMutex(mutex_.get());
        mutex_.reset();
    }
    mutexOwned_ = false;
    held_ = false;
}

} // namespace WWLib
