#include "WinSecurity.h"
#include "../nocrtlib/NoCrtAssert.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/datavect.h"

namespace {

CRITICAL_SECTION& PrivilegeLock()
{
    static CRITICAL_SECTION cs = [] {
        CRITICAL_SECTION c;
        InitializeCriticalSection(&c);
        return c;
    }();
    return cs;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&PrivilegeLock()); }
    ~Locked() { LeaveCriticalSection(&PrivilegeLock()); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

bool OpenOwnToken(NoCrtHandle& token)
{
    HANDLE h = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &h))
        return false;
    token.reset(h);
    return true;
}

bool Adjust(HANDLE token, const LUID& luid, DWORD attributes)
{
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid = luid;
    tp.Privileges[0].Attributes = attributes;
    return AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) != FALSE;
}

} // namespace

PrivilegeHolder& PrivilegeHolder::Shutdown()
{
    static PrivilegeHolder holder(L"SeShutdownPrivilege");
    return holder;
}

PrivilegeHolder& PrivilegeHolder::TakeOwnership()
{
    static PrivilegeHolder holder(L"SeTakeOwnershipPrivilege");
    return holder;
}

bool PrivilegeHolder::Enable()
{
    Locked lock;
    if (state_ == Enabled) {
        ++m_count;
        return true;
    }
    // What an earlier enabler found out stands: the token is not asked again.
    if (state_ == NotAvailable) {
        SetLastError(error_);
        return false;
    }
    NoCrtHandle token;
    if (!OpenOwnToken(token))
        return false;
    if (state_ == Unknown) {
        state_ = NotAvailable;
        DWORD size = 0;
        if (!LookupPrivilegeValueW(nullptr, name_, &luid_) ||
            (!GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size) &&
             GetLastError() != ERROR_INSUFFICIENT_BUFFER)) {
            error_ = GetLastError();
        } else {
            NoCrtDataVect<BYTE> buf;
            buf.resize(size * 2);
            if (!GetTokenInformation(token.get(), TokenPrivileges, buf.data(), size * 2, &size)) {
                error_ = GetLastError();
            } else {
                auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buf.data());
                error_ = ERROR_PRIVILEGE_NOT_HELD;
                for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
                    const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
                    if (p.Luid.LowPart != luid_.LowPart || p.Luid.HighPart != luid_.HighPart)
                        continue;
                    if (p.Attributes & SE_PRIVILEGE_REMOVED)
                        error_ = GetLastError();
                    else
                        state_ = (p.Attributes & SE_PRIVILEGE_ENABLED) ? Enabled : Held;
                    enabledBefore_ = state_ == Enabled;
                    break;
                }
            }
        }
    }
    if (state_ == NotAvailable) {
        SetLastError(error_);
        return false;
    }
    if (!Adjust(token.get(), luid_, SE_PRIVILEGE_ENABLED))
        return false;
    state_ = Enabled;
    m_count = 1;
    return true;
}

void PrivilegeHolder::Release()
{
    Locked lock;
    NoCrtAssert(!!m_count);
    if (--m_count != 0)
        return;
    // Enabled before this program asked for it: it stays as it was found.
    if (enabledBefore_)
        return;
    NoCrtHandle token;
    if (OpenOwnToken(token) && Adjust(token.get(), luid_, 0))
        state_ = Held;
}

PrivilegeEnabler::~PrivilegeEnabler()
{
    if (tried_ && result_)
        holder_.Release();
}

bool PrivilegeEnabler::Try()
{
    if (!tried_) {
        tried_ = true;
        result_ = holder_.Enable();
        if (!result_)
            error_ = GetLastError();
        return result_;
    }
    if (!result_)
        SetLastError(error_);
    return result_;
}
