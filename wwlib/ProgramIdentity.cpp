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
    // Whether the chain is trusted here is the administrator's policy; what
    // counts is that the signature is whole and the file is what was signed.
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        return Signature::Intact;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
        return Signature::None;
    default:
        return Signature::Broken;
    }
}

WString SignerSubject(const WString& path)
{
    SystemLibrary crypt32(L"crypt32.dll");
    using QueryObject = BOOL(WINAPI*)(DWORD, const void*, DWORD, DWORD, DWORD, DWORD*, DWORD*, DWORD*, HCERTSTORE*,
                                      HCRYPTMSG*, const void**);
    using GetParam = BOOL(WINAPI*)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
    using FindCert = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT);
    using NameString = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);
    using FreeCert = BOOL(WINAPI*)(PCCERT_CONTEXT);
    using CloseStore = BOOL(WINAPI*)(HCERTSTORE, DWORD);
    using CloseMsg = BOOL(WINAPI*)(HCRYPTMSG);
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, content = 0, format = 0;
    if (!crypt32.Proc<QueryObject>("CryptQueryObject")(
            CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
            0, &encoding, &content, &format, &store, &message, nullptr))
        return WString();
    WString subject;
    DWORD size = 0;
    auto getParam = crypt32.Proc<GetParam>("CryptMsgGetParam");
    if (getParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size) {
        NoCrtDataVect<BYTE> buffer;
        buffer.resize(size);
        if (getParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
            const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
            CERT_INFO wanted = {};
            wanted.Issuer = signer->Issuer;
            wanted.SerialNumber = signer->SerialNumber;
            PCCERT_CONTEXT cert = crypt32.Proc<FindCert>("CertFindCertificateInStore")(
                store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
            if (cert) {
                auto name = crypt32.Proc<NameString>("CertGetNameStringW");
                DWORD type = CERT_X500_NAME_STR;
                DWORD len = name(cert, CERT_NAME_RDN_TYPE, 0, &type, nullptr, 0);
                if (len > 1) {
                    NoCrtDataVect<wchar_t> text;
                    text.resize(len);
                    name(cert, CERT_NAME_RDN_TYPE, 0, &type, text.data(), len);
                    subject = WString(text.data(), len - 1);
                }
                crypt32.Proc<FreeCert>("CertFreeCertificateContext")(cert);
            }
        }
    }
    crypt32.Proc<CloseMsg>("CryptMsgClose")(message);
    crypt32.Proc<CloseStore>("CertCloseStore")(store, 0);
    return subject;
}

} // namespace WWLib
