#include "ErrorText.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtHandle.h"
#include <windows.h>

namespace WWLib {
namespace {

struct CodeText {
    unsigned long code;
    const wchar_t* text;
};

// Used only where the system has no message of its own for a code.
const CodeText kBuiltIn[] = {
    {1, L"Incorrect function."},
    {2, L"The system cannot find the file specified."},
    {3, L"The system cannot find the path specified."},
    {4, L"The system cannot open the file."},
    {5, L"Access is denied."},
    {6, L"The handle is invalid."},
    {8, L"Not enough storage is available to process this command."},
    {14, L"Not enough storage is available to complete this operation."},
    {86, L"The specified network password is not correct."},
    {2221, L"The user name could not be found."},
    {2226, L"This operation is only allowed on the primary domain controller of the domain."},
    {2245, L"The password does not meet the password policy requirements. Check the minimum password "
           L"length, password complexity and password history requirements."},
    {2351, L"This computer name is invalid."},
    {10004, L"A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10009, L"The file handle supplied is not valid."},
    {10013, L"An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014, L"The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {10022, L"An invalid argument was supplied."},
    {10035, L"A non-blocking socket operation could not be completed immediately."},
    {10036, L"A blocking operation is currently executing."},
    {10037, L"An operation was attempted on a non-blocking socket that already had an operation in progress."},
    {10048, L"Only one usage of each socket address (protocol/network address/port is normally permitted."},
    {10049, L"The requested address is not valid in its context."},
    {10050, L"A socket operation encountered a dead network."},
    {10052, L"The connection has been broken due to keep-alive activity detecting a failure while the "
            L"operation was in progress."},
    {10053, L"An established connection was aborted by the software in your host machine."},
    {10054, L"An existing connection was forcibly closed by the remote host."},
    {10057, L"A request to send or receive data was disallowed because the socket is not connected and "
            L"(when sending on a datagram socket using a sendto call no address was supplied."},
    {10058, L"A request to send or receive data was disallowed because the socket had already been shut "
            L"down in that direction with a previous shutdown call."},
    {10060, L"A connection attempt failed because the connected party did not properly respond after a "
            L"period of time, or established connection failed because connected host has failed to respond."},
    {10061, L"No connection could be made because the target machine actively refused it."},
    {11001, L"No such host is known."},
};

const CodeText kComTexts[] = {
    {0x00000000, L"Success."},
    {0x00000001, L"Partial success."},
    {0x80004001, L"Not implemented."},
    {0x80004002, L"No such interface supported."},
    {0x80004003, L"Pointer that is not valid."},
    {0x80004004, L"Operation aborted."},
    {0x80004005, L"Unspecified failure."},
    {0x8000FFFF, L"Unexpected error."},
    {0x800401E5, L"The object identified by this moniker could not be found."},
    {0x80070005, L"General access denied error."},
    {0x80070006, L"Handle that is not valid."},
    {0x8007000E, L"Failed to allocate necessary memory."},
    {0x80070057, L"One or more arguments are not valid."},
};

// The system's text, else the built-in one, else empty.
WString LookUp(unsigned long code)
{
    WString text;
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0x0800, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    NoCrtLocalMem owner(buf);
    if (n && buf) {
        while (n && (buf[n - 1] == L'\n' || buf[n - 1] == L'\r'))
            --n;
        text.assign(buf, n);
        return text;
    }
    for (const CodeText& e : kBuiltIn)
        if (e.code == code)
            return WString(e.text);
    return text;
}

} // namespace

WString Hex8Text(unsigned long value)
{
    wchar_t digits[16];
    FormatUnsigned(static_cast<unsigned long>(value) & 0xFFFFFFFFul, 8, 16, digits);
    return L"0x" + WString(digits);
}

WString WindowsCodeText(unsigned long code)
{
    if (code <= 99999) {
        wchar_t digits[16];
        FormatUnsigned(code, 1, 10, digits);
        return WString(digits);
    }
    return Hex8Text(code);
}

WString WindowsErrorText(unsigned long code)
{
    NoCrtLastErrorKeeper keep;
    WString text = LookUp(code);
    if (text.empty())
        text = L"Windows error " + WindowsCodeText(code) + L".";
    return text;
}

WString WindowsErrorTextWithCode(unsigned long code)
{
    NoCrtLastErrorKeeper keep;
    WString text = LookUp(code);
    if (text.empty())
        return L"Windows error " + WindowsCodeText(code) + L".";
    return L"Windows error " + WindowsCodeText(code) + L": " + text;
}

WString ComResultText(long hr)
{
    unsigned long value = static_cast<unsigned long>(hr) & 0xFFFFFFFFul;
    for (const CodeText& e : kComTexts)
        if (e.code == value)
            return WString(e.text);
    if ((value >> 16) == 0x8007)
        return WindowsErrorText(value & 0xFFFF);
    return WString();
}

} // namespace WWLib
