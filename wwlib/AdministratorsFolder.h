#pragma once
#include "AccessControl.h"
#include "../nocrtlib/NoCrtString.h"

namespace WWLib {

// A folder that decides what a program running as an administrator does (the
// installation journals, the installers' lock): it must be the
// administrators' own, since a standard user may create folders under the
// all-users application data. Made with Administrators as its owner and a
// protected list that lets only administrators and the system write; one
// that exists is trusted only when it is no link and its owner and list are
// such.
class AdministratorsFolder {
public:
    // What the folder is made with.
    struct Security {
        Security(); // throws SystemError
        AccessList list;
        AclHolder acl;
        SecurityDescriptor sd;
    };
    // Whether an object with this owner may be the administrators' own (the
    // user's too where the system gives the user's objects to the user).
    static bool TrustedOwner(PSID owner);
    // Why a folder with this descriptor is not the administrators' own (its
    // owner, or an entry that lets someone other than administrators and the
    // system write or change it); empty when it is.
    static WString Distrust(PSECURITY_DESCRIPTOR sd);

    // Makes the folder `dir`, or takes the one there when it is trusted. One
    // that is not goes aside whole (nothing in it is deleted: it may hold
    // what someone else put there) and is made anew; the returned text then
    // says so, for the caller's output (empty otherwise). Throws
    // InstallError when there is no trusted folder to be had.
    static WString Make(const WString& dir);
    // A new folder in `parent` (the temporary folder) for what one run puts
    // there to start it: named `prefix` and a random number, made with the
    // administrators-only security, never one that existed (a standard user
    // may make any name in the system's temporary folder first). Throws
    // SystemError "CreateDirectoryW()".
    static WString MakeNew(const WString& parent, const wchar_t* prefix);
    // For reading: nothing is made. Throws InstallError when a folder is
    // there but is not trusted.
    static void CheckExisting(const WString& dir);
};

} // namespace WWLib
