#include "UndoSecurity.h"
#include "../StepReport.h"
#include "../../nocrtlib/NoCrtConvert.h"
#include "../../wwlib/SystemError.h"
#include <aclapi.h>
#include <cstdint>
#include <windows.h>

namespace {

std::uint32_t ReadU32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Whether what a self-relative descriptor's offsets point at lies inside its
// bytes: the system's own checks read wherever the offsets say.
bool PartsInside(const NoCrtDataVect<std::uint8_t>& sd)
{
    const std::size_t size = sd.size();
    if (size < 20 || sd[0] != SECURITY_DESCRIPTOR_REVISION)
        return false;
    const std::uint16_t control = static_cast<std::uint16_t>(sd[2] | (sd[3] << 8));
    if (!(control & SE_SELF_RELATIVE))
        return false;
    for (int part = 0; part < 4; ++part) {
        std::uint32_t offset = ReadU32(&sd[4 + 4 * part]);
        if (!offset)
            continue;
        if (offset < 20 || offset > size || size - offset < 8)
            return false;
        const std::uint8_t* p = &sd[offset];
        std::size_t need = part < 2 ? 8 + 4 * std::size_t(p[1])          // a SID: its sub-authorities
                                    : std::size_t(p[2] | (p[3] << 8)); // an ACL: its size
        if (need < 8 || need > size - offset)
            return false;
    }
    return true;
}

} // namespace

namespace UndoSecurity {

WString Encode(const void* selfRelative, std::size_t size)
{
    return BytesToHex(selfRelative, size);
}

bool Decode(const WString& text, NoCrtDataVect<std::uint8_t>& out)
{
    if (text.empty() || !HexToBytes(text, out) || !PartsInside(out)) {
        out.clear();
        return false;
    }
    return IsValidSecurityDescriptor(out.data()) != FALSE &&
           GetSecurityDescriptorLength(out.data()) == out.size();
}

WString Of(const WString& dir)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
        return WString();
    WString text = Encode(sd, GetSecurityDescriptorLength(sd));
    LocalFree(sd);
    return text;
}

WString SetFailureReason(DWORD error)
{
    // The view points into the error object: it must outlive the view.
    SystemError failure(L"SetNamedSecurityInfoW()", error);
    WView text = failure.Description();
    return WString(text.p, text.len);
}

bool Restore(const WString& dir, const WString& descriptor) noexcept
{
    try {
        StepLine(L"Rollback: restoring the previous access control of " + dir);
        NoCrtDataVect<std::uint8_t> sd;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!Decode(descriptor, sd) || !GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted) ||
            !GetSecurityDescriptorControl(sd.data(), &control, &revision)) {
            // Nothing a later try could give back: said, and done with.
            ReportRollbackFailure(RollbackKind::Security, dir, L"the stored access control list is damaged");
            return true;
        }
        SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                     ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
        DWORD r = SetNamedSecurityInfoW(const_cast<wchar_t*>(dir.c_str()), SE_FILE_OBJECT, info, nullptr, nullptr,
                                        present ? dacl : nullptr, nullptr);
        if (r == ERROR_SUCCESS)
            return true;
        ReportRollbackFailure(RollbackKind::Security, dir, SetFailureReason(r));
    } catch (...) {
    }
    return false;
}

} // namespace UndoSecurity
