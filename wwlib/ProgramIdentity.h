#pragma once
#include "../nocrtlib/NoCrtString.h"

// Whose a program file is, as the file itself shows it: the names in its
// version resource, and its Authenticode signature. The libraries that read
// them (version.dll, wintrust.dll, crypt32.dll) are loaded from the system
// folder, never found by the search order.
namespace WWLib {

// The version resource's company and product names (of its first
// language); false when the file has none.
bool ReadVersionNames(const WString& path, WString& company, WString& product);

enum class Signature {
    None,      // not signed
    Trusted,   // signed, the signed bytes are the file's, and the signer chains to a trusted root
    Untrusted, // signed and whole, but the signer chains to no root this machine trusts
    Broken     // signed, but the bytes or the signature do not match
};
Signature VerifySignature(const WString& path);

// The subject of the certificate that signed the file, as one text
// ("CN=..., O=..."); empty when there is none.
WString SignerSubject(const WString& path);

} // namespace WWLib
