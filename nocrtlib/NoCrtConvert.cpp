#include "NoCrtConvert.h"
#include "WException.h"
#include <windows.h>

bool WideToNarrow(unsigned codePage, const wchar_t* text, int len, AString& out)
{
    out.clear();
    if (len == 0)
        return true;
    if (len < 0)
        return false;
    int need = WideCharToMultiByte(codePage, 0, text, len, nullptr, 0, nullptr, nullptr);
    if (need == 0)
        return false;
    out.resize(static_cast<std::size_t>(need) + 1);
    int done = WideCharToMultiByte(codePage, 0, text, len, out.buffer(), need, nullptr, nullptr);
    if (done == 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(done));
    return true;
}

bool NarrowToWide(unsigned codePage, const char* text, int len, WString& out)
{
    out.clear();
    if (len == 0)
        return true;
    if (len < 0)
        return false;
    DWORD flags = (codePage == CP_UTF8 || codePage == CP_UTF7) ? 0 : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    int need = MultiByteToWideChar(codePage, flags, text, len, nullptr, 0);
    if (need == 0 && flags != 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        // Some code pages refuse these flags altogether.
        flags = 0;
        need = MultiByteToWideChar(codePage, flags, text, len, nullptr, 0);
    }
    if (need == 0)
        return false;
    out.resize(static_cast<std::size_t>(need) + 1);
    int done = MultiByteToWideChar(codePage, flags, text, len, out.buffer(), need);
    if (done == 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(done));
    return true;
}

AString W2N(unsigned codePage, const wchar_t* text, int len)
{
    AString out;
    if (!WideToNarrow(codePage, text, len, out))
        throw W2NException();
    return out;
}

AString W2N(unsigned codePage, const WString& text)
{
    return W2N(codePage, text.data(), static_cast<int>(text.size()));
}

WString N2W(unsigned codePage, const char* text, int len)
{
    WString out;
    if (!NarrowToWide(codePage, text, len, out))
        throw N2WException();
    return out;
}

WString N2W(unsigned codePage, const char* text)
{
    return N2W(codePage, text, static_cast<int>(NoCrtStrDetail::Len(text)));
}

WString BytesToHex(const void* data, std::size_t size)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
    WString text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

bool HexToBytes(const WString& text, NoCrtDataVect<std::uint8_t>& out)
{
    out.clear();
    if (text.size() % 2)
        return false;
    auto nibble = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}
