#pragma once
// The server's settings file (Quendal-Settings-Default.qst in the
// installation directory, Config\Quendal-Settings.qst once imported): lines
// of "Key = Value", keys without regard to case; blank lines, comments
// (# or ;) and section lines ([Server]) are ignored.
#include "ForcedExit.h"
#include <cstdlib>
#include <cwctype>
#include <string>

namespace Package {

struct ServerSettings {
    std::wstring listenAddress = L"0.0.0.0";
    unsigned port = 22;
    unsigned maxConnections = 100;
    std::wstring logLevel = L"info";
    std::wstring banner;
};

inline std::wstring Trim(const std::wstring& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::iswspace(s[b]))
        ++b;
    while (e > b && std::iswspace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

inline bool ParseNumber(const std::wstring& text, unsigned low, unsigned high, unsigned& out)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    unsigned long v = std::wcstoul(text.c_str(), nullptr, 10);
    if (v < low || v > high)
        return false;
    out = static_cast<unsigned>(v);
    return true;
}

// Reads the settings from the file's text (UTF-8). An empty answer means the
// settings are valid; otherwise it names the line and what is wrong with it.
inline std::wstring ParseServerSettings(const std::string& utf8, ServerSettings& out)
{
    int len = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(len), L'\0');
    if (len)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], len);
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    std::size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == L'#' || line[0] == L';' || line[0] == L'[')
            continue;
        const std::wstring where = L"line " + std::to_wstring(number) + L": ";
        std::size_t eq = line.find(L'=');
        if (eq == std::wstring::npos)
            return where + L"expected Key = Value";
        std::wstring key = Lower(Trim(line.substr(0, eq))), value = Trim(line.substr(eq + 1));
        if (key == L"port") {
            if (!ParseNumber(value, 1, 65535, out.port))
                return where + L"Port must be a number from 1 to 65535";
        } else if (key == L"listenaddress") {
            if (value.empty())
                return where + L"ListenAddress must not be empty";
            out.listenAddress = value;
        } else if (key == L"maxconnections") {
            if (!ParseNumber(value, 1, 10000, out.maxConnections))
                return where + L"MaxConnections must be a number from 1 to 10000";
        } else if (key == L"loglevel") {
            std::wstring level = Lower(value);
            if (level != L"error" && level != L"warning" && level != L"info" && level != L"debug")
                return where + L"LogLevel must be error, warning, info or debug";
            out.logLevel = level;
        } else if (key == L"banner") {
            out.banner = value;
        } else {
            return where + L"unknown setting '" + Trim(line.substr(0, eq)) + L"'";
        }
    }
    return std::wstring();
}

// The bytes of a file; 0, or the Windows error that kept it from being read.
inline DWORD ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return GetLastError();
    char buf[4096];
    DWORD got = 0, error = 0;
    for (;;) {
        if (!ReadFile(f, buf, sizeof(buf), &got, nullptr)) {
            error = GetLastError();
            break;
        }
        if (!got)
            break;
        bytes.append(buf, got);
    }
    CloseHandle(f);
    return error;
}

// Reads a settings file; a file that cannot be read is an error too.
inline std::wstring ReadServerSettings(const std::wstring& path, ServerSettings& out)
{
    std::string bytes;
    if (DWORD error = ReadWholeFile(path, bytes))
        return L"cannot read the file (error " + std::to_wstring(error) + L")";
    return ParseServerSettings(bytes, out);
}

} // namespace Package
