#include "Sid.h"
#include "SystemError.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"

Sid::Sid(PSID raw)
{
    if (!raw)
        return;
    DWORD len = GetLengthSid(raw);
    bytes_.resize(len);
    if (!CopySid(len, bytes_.data(), raw))
        ThrowLastError(L"CopySid()");
}

void Sid::Set(BYTE count, SID_IDENTIFIER_AUTHORITY authority, DWORD first, DWORD second)
{
    if (count < 1 || count > 8) {
        wchar_t digits[8];
        FormatUnsigned(count, 1, 10, digits);
        throw WStrException(WString(L"Sid::Set() - invalid subauthority count (") + digits + L")");
    }
    bytes_.resize(GetSidLengthRequired(count));
    InitializeSid(bytes_.data(), &authority, count);
    for (BYTE i = 0; i < count; ++i)
        *GetSidSubAuthority(bytes_.data(), i) = i == 0 ? first : (i == 1 ? second : 0);
}

Sid Sid::Everyone()
{
    Sid s;
    s.Set(1, SECURITY_WORLD_SID_AUTHORITY, SECURITY_WORLD_RID);
    return s;
}

Sid Sid::AuthenticatedUsers()
{
    Sid s;
    s.Set(1, SECURITY_NT_AUTHORITY, SECURITY_AUTHENTICATED_USER_RID);
    return s;
}

Sid Sid::TrustedInstaller()
{
    // The service's identifier: NT SERVICE\TrustedInstaller, six sub-authorities.
    static const DWORD subs[] = {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u};
    Sid s;
    s.Set(6, SECURITY_NT_AUTHORITY, subs[0], subs[1]);
    for (BYTE i = 2; i < 6; ++i)
        *GetSidSubAuthority(s.bytes_.data(), i) = subs[i];
    return s;
}

Sid Sid::LocalSystem()
{
    Sid s;
    s.Set(1, SECURITY_NT_AUTHORITY, SECURITY_LOCAL_SYSTEM_RID);
    return s;
}

Sid Sid::Administrators()
{
    Sid s;
    s.Set(2, SECURITY_NT_AUTHORITY, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    return s;
}

namespace {

// One TOKEN_* record of the process's token.
NoCrtDataVect<BYTE> TokenRecord(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        throw SystemError(L"OpenProcessToken()", GetLastError());
    NoCrtHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), kind, nullptr, 0, &size);
    NoCrtDataVect<BYTE> buffer;
    buffer.resize(size ? size : 1);
    if (!GetTokenInformation(token.get(), kind, buffer.data(), size, &size))
        throw SystemError(L"GetTokenInformation()", GetLastError());
    return buffer;
}

} // namespace

Sid Sid::ProcessOwner()
{
    NoCrtDataVect<BYTE> record = TokenRecord(TokenOwner);
    return Sid(reinterpret_cast<TOKEN_OWNER*>(record.data())->Owner);
}

Sid Sid::ProcessUser()
{
    NoCrtDataVect<BYTE> record = TokenRecord(TokenUser);
    return Sid(reinterpret_cast<TOKEN_USER*>(record.data())->User.Sid);
}
