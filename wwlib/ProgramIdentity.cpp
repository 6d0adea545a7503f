#include "ProgramIdentity.h"
#include "DllLoader.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/datavect.h"
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

namespace WWLib {

namespace {

class SystemLibrary : public DllLoader {
public:
    explicit SystemLibrary(const wchar_t* name) { LoadFromSystemDirectory(name, false); }
};

WString VersionString(const SystemLibrary& version, const NoCrtDataVect<BYTE>& block, const WString& language,
                      const wchar_t* name)
{
    using Query = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    auto query = version.Proc<Query>("VerQueryValueW");
    WString key = L"\\StringFileInfo\\" + language + L"\\" + name;
    void* value = nullptr;
    UINT len = 0;
    if (!query(block.data(), key.c_str(), &value, &len) || !value || !len)
        return WString();
    const wchar_t* text = static_cast<const wchar_t*>(value);
    while (len && text[len - 1] == 0)
        --len;
    return WString(text, len);
}

} // namespace

bool ReadVersionNames(const WString& path, WString& company, WString& product)
{
    SystemLibrary version(L"version.dll");
    using Size = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using Info = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using Query = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    DWORD ignored = 0;
    DWORD size = version.Proc<Size>("GetFileVersionInfoSizeW")(path.c_str(), &ignored);
    if (!size)
        return false;
    NoCrtDataVect<BYTE> block;
    block.resize(size);
    if (!version.Proc<Info>("GetFileVersionInfoW")(path.c_str(), 0, size, block.data()))
        return false;
    struct Translation {
        WORD language, codePage;
    };
    Translation* translations = nullptr;
    UINT len = 0;
    if (!version.Proc<Query>("VerQueryValueW")(block.data(), L"\\VarFileInfo\\Translation",
                                                reinterpret_cast<void**>(&translations), &len) ||
        len < sizeof(Translation))
        return false;
    wchar_t digits[16];
    FormatUnsigned(translations[0].language, 4, 16, digits);
    WString language = digits;
    FormatUnsigned(translations[0].codePage, 4, 16, digits);
    language += digits;
    company = VersionString(version, block, language, L"CompanyName");
    product = VersionString(version, block, language, L"ProductName");
    return true;
}

namespace {

// The certificate that signed a file, with the store the signature carries
// (the chain's other certificates); no certificate when the file is not
// signed.
class SignerCertificate {
public:
    explicit SignerCertificate(const WString& path) : crypt32_(L"crypt32.dll")
    {
        using QueryObject = BOOL(WINAPI*)(DWORD, const void*, DWORD, DWORD, DWORD, DWORD*, DWORD*, DWORD*,
                                          HCERTSTORE*, HCRYPTMSG*, const void**);
        using GetParam = BOOL(WINAPI*)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
        using FindCert = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT);
        DWORD encoding = 0, content = 0, format = 0;
        if (!crypt32_.Proc<QueryObject>("CryptQueryObject")(
                CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, &store_, &message_, nullptr))
            return;
        DWORD size = 0;
        auto getParam = crypt32_.Proc<GetParam>("CryptMsgGetParam");
        if (!getParam(message_, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || !size)
            return;
        NoCrtDataVect<BYTE> buffer;
        buffer.resize(size);
        if (!getParam(message_, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size))
            return;
        const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
        CERT_INFO wanted = {};
        wanted.Issuer = signer->Issuer;
        wanted.SerialNumber = signer->SerialNumber;
        cert_ = crypt32_.Proc<FindCert>("CertFindCertificateInStore")(
            store_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
    }
    ~SignerCertificate()
    {
        using FreeCert = BOOL(WINAPI*)(PCCERT_CONTEXT);
        using CloseStore = BOOL(WINAPI*)(HCERTSTORE, DWORD);
        using CloseMsg = BOOL(WINAPI*)(HCRYPTMSG);
        if (cert_)
            crypt32_.Proc<FreeCert>("CertFreeCertificateContext")(cert_);
        if (message_)
            crypt32_.Proc<CloseMsg>("CryptMsgClose")(message_);
        if (store_)
            crypt32_.Proc<CloseStore>("CertCloseStore")(store_, 0);
    }
    SignerCertificate(const SignerCertificate&) = delete;
    SignerCertificate& operator=(const SignerCertificate&) = delete;

    WString Subject() const
    {
        if (!cert_)
            return WString();
        using NameString = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);
        auto name = crypt32_.Proc<NameString>("CertGetNameStringW");
        DWORD type = CERT_X500_NAME_STR;
        DWORD len = name(cert_, CERT_NAME_RDN_TYPE, 0, &type, nullptr, 0);
        if (len <= 1)
            return WString();
        NoCrtDataVect<wchar_t> text;
        text.resize(len);
        name(cert_, CERT_NAME_RDN_TYPE, 0, &type, text.data(), len);
        return WString(text.data(), len - 1);
    }

    // Whether the certificate chains to a root this machine trusts. An
    // expired certificate still counts (a signature outlives it), and so
    // does revocation that cannot be checked offline; an untrusted or
    // missing root, a bad signature in the chain or a revoked certificate
    // do not.
    bool ChainTrusted() const
    {
        if (!cert_)
            return false;
        using GetChain = BOOL(WINAPI*)(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA,
                                       DWORD, LPVOID, PCCERT_CHAIN_CONTEXT*);
        using FreeChain = VOID(WINAPI*)(PCCERT_CHAIN_CONTEXT);
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof(para);
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (!crypt32_.Proc<GetChain>("CertGetCertificateChain")(nullptr, cert_, nullptr, store_, &para, 0, nullptr,
                                                                &chain) ||
            !chain)
            return false;
        const DWORD tolerated = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
                                CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        const bool trusted = (chain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
        crypt32_.Proc<FreeChain>("CertFreeCertificateChain")(chain);
        return trusted;
    }

private:
    SystemLibrary crypt32_;
    HCERTSTORE store_ = nullptr;
    HCRYPTMSG message_ = nullptr;
    PCCERT_CONTEXT cert_ = nullptr;
};

} // namespace

Signature VerifySignature(const WString& path)
{
    SystemLibrary wintrust(L"wintrust.dll");
    using Verify = LONG(WINAPI*)(HWND, GUID*, LPVOID);
    auto verify = wintrust.Proc<Verify>("WinVerifyTrust");
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<DWORD>(result)) {
    case 0:
    // The bytes are what was signed; whose signature it is, the chain says.
    // Its trust is read from the chain itself: Wine's verification passes a
    // chain to no trusted root.
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        return SignerCertificate(path).ChainTrusted() ? Signature::Trusted : Signature::Untrusted;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
        return Signature::None;
    default:
        return Signature::Broken;
    }
}

WString SignerSubject(const WString& path)
{
    return SignerCertificate(path).Subject();
}

} // namespace WWLib
