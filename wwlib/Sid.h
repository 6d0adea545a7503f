#pragma once
#include "../nocrtlib/datavect.h"
#include <windows.h>

// One security identifier in its binary form.
class Sid {
public:
    Sid() = default;
    // A copy of a raw identifier; null gives an empty Sid. Throws SystemError "CopySid()".
    explicit Sid(PSID raw);

    // Builds the identifier from an authority and up to two sub-authorities
    // (the others are 0). A count outside 1..8 throws WStrException.
    void Set(BYTE count, SID_IDENTIFIER_AUTHORITY authority, DWORD first, DWORD second = 0);

    PSID Get() const { return bytes_.empty() ? nullptr : const_cast<BYTE*>(bytes_.data()); }
    bool Empty() const { return bytes_.empty(); }

    static Sid Everyone();             // S-1-1-0
    static Sid AuthenticatedUsers();   // S-1-5-11
    static Sid LocalSystem();          // S-1-5-18
    static Sid Administrators();       // S-1-5-32-544
    static Sid TrustedInstaller();     // S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
    // The default owner of what the process creates (an elevated
    // administrator's: Administrators). Throws SystemError
    // "OpenProcessToken()" or "GetTokenInformation()".
    static Sid ProcessOwner();
    // The user of the process's token. Throws as ProcessOwner does.
    static Sid ProcessUser();

    // Whether two identifiers are the same; an empty one equals none.
    bool Equals(PSID other) const { return Get() && other && EqualSid(Get(), other); }

private:
    NoCrtDataVect<BYTE> bytes_;
};
