#pragma once
#include <windows.h>

// Whether the process token holds the Administrators group. When the check
// itself fails the answer is `fallback`. Systems outside the NT family answer yes.
bool IsAdministrator(bool fallback);
// Whether the process token holds the Power Users group; false when the check fails.
bool IsPowerUser();
// The check behind both, for a group of the built-in domain; throws
// InstallError when the check itself fails.
bool TokenHasBuiltinGroup(DWORD rid);

// What the Windows version alone answers for a membership check: a system
// outside the NT family has no groups (yes), an NT system must be asked (no
// answer), and a version that could not be read is no membership.
enum class VersionAnswer { Member, NotMember, AskToken };
VersionAnswer MembershipByVersion(DWORD platform, DWORD major, DWORD minor);
