#include "Membership.h"
#include "DllLoader.h"
#include "ErrorText.h"
#include "InstallError.h"
#include "SystemInfo.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <new>

using namespace WWLib;

namespace {

[[noreturn]] void Fail(const wchar_t* what, DWORD err)
{
    throw InstallError(WString(what) + L" failed: " + WindowsErrorTextWithCode(err));
}

struct SidFreer {
    const Advapi32Dll& dll;
    PSID sid;
    ~SidFreer()
    {
        if (sid)
            dll.FreeSid(sid);
    }
};

struct GlobalMem {
    HGLOBAL mem;
    ~GlobalMem() { GlobalFree(mem); }
};

} // namespace

VersionAnswer MembershipByVersion(DWORD platform, DWORD major, DWORD minor)
{
    if (platform == 0 && major == 0 && minor == 0)
        return VersionAnswer::NotMember; // unreadable: a failure is no membership
    return platform == VER_PLATFORM_WIN32_NT ? VersionAnswer::AskToken : VersionAnswer::Member;
}

bool TokenHasBuiltinGroup(DWORD rid)
{
    Advapi32Dll dll;
    VersionTriple v = WindowsVersion();
    VersionAnswer byVersion = MembershipByVersion(v.first, v.second, v.third);
    if (byVersion != VersionAnswer::AskToken)
        return byVersion == VersionAnswer::Member;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SidFreer group{dll, nullptr};
    if (!dll.AllocateAndInitializeSid(&nt, rid, &group.sid))
        Fail(L"AllocateAndInitializeSid()", GetLastError());
    if (!group.sid)
        throw InstallError(L"AllocateAndInitializeSid() failed: NULL SID returned.");
    if (!dll.IsValidSid(group.sid))
        throw InstallError(L"AllocateAndInitializeSid() failed: Invalid SID returned.");
    HANDLE raw = nullptr;
    if (!dll.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        Fail(L"OpenProcessToken()", GetLastError());
    NoCrtHandle token(raw);
    DWORD size = 0;
    if (!dll.GetTokenGroups(token.get(), nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throw InstallError(L"GetTokenInformation() failed: " + WindowsErrorText(GetLastError()));
    GlobalMem buf{GlobalAlloc(GMEM_ZEROINIT, size)};
    if (!buf.mem)
        throw std::bad_alloc();
    if (!dll.GetTokenGroups(token.get(), buf.mem, size, &size))
        Fail(L"GetTokenInformation()", GetLastError());
    // Deny-only and disabled groups count too: what matters is membership.
    auto* groups = static_cast<TOKEN_GROUPS*>(buf.mem);
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        PSID sid = groups->Groups[i].Sid;
        if (sid && dll.IsValidSid(sid) && dll.EqualSid(sid, group.sid))
            return true;
    }
    return false;
}

bool IsAdministrator(bool fallback)
{
    try {
        return TokenHasBuiltinGroup(DOMAIN_ALIAS_RID_ADMINS);
    } catch (const std::exception&) {
        return fallback;
    }
}

bool IsPowerUser()
{
    try {
        return TokenHasBuiltinGroup(DOMAIN_ALIAS_RID_POWER_USERS);
    } catch (const std::exception&) {
        return false;
    }
}
