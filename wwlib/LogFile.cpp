#include "LogFile.h"
#include "ConsoleOutput.h"
#include "Sid.h"
#include "SystemError.h"
#include "../nocrtlib/NoCrtFormat.h"
#include <sddl.h>

namespace WWLib {

namespace {

LogFile* g_processLog = nullptr;

void Append(WString& text, unsigned value, unsigned digits)
{
    wchar_t buffer[24] = {};
    FormatUnsigned(value, digits, 10, buffer);
    text += buffer;
}

} // namespace

LogFile::LogFile(const WString& path)
{
    // FILE_APPEND_DATA alone: every write lands at the end, whoever else
    // appends at the same time.
    file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        ThrowLastError(L"CreateFileW()");
}

LogFile::~LogFile()
{
    if (g_processLog == this)
        g_processLog = nullptr;
    CloseHandle(file_);
}

void LogFile::Write(const wchar_t* text, std::size_t len) noexcept
{
    try {
        AString bytes = ConsoleStreamBuf::EncodeForFile(text, len);
        DWORD done = 0;
        if (!bytes.empty())
            WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    } catch (...) {
        // A log that cannot take a line must never end the run.
    }
}

void LogFile::Line(const WString& text) noexcept
{
    try {
        WString line = text + L"\n";
        Write(line.data(), line.size());
    } catch (...) {
    }
}

void LogFile::Started(const WString& program) noexcept
{
    try {
        Line(Now() + L" " + program + (sizeof(void*) == 8 ? L" (64-bit build)" : L" (32-bit build)") + L", user " +
             UserName() + L", command line: " + GetCommandLineW());
    } catch (...) {
    }
}

void LogFile::Ended(unsigned long exitCode) noexcept
{
    try {
        WString line = Now() + L" Exit code ";
        Append(line, static_cast<unsigned>(exitCode), 1);
        Line(line);
    } catch (...) {
    }
}

WString LogFile::Now()
{
    SYSTEMTIME t = {};
    GetLocalTime(&t);
    WString text;
    Append(text, t.wYear, 4);
    text += L"-";
    Append(text, t.wMonth, 2);
    text += L"-";
    Append(text, t.wDay, 2);
    text += L" ";
    Append(text, t.wHour, 2);
    text += L":";
    Append(text, t.wMinute, 2);
    text += L":";
    Append(text, t.wSecond, 2);
    return text;
}

WString LogFile::UserName()
{
    Sid user;
    try {
        user = Sid::ProcessUser();
    } catch (const std::exception&) {
        return L"(unknown)";
    }
    wchar_t name[256] = {}, domain[256] = {};
    DWORD nameLen = 256, domainLen = 256;
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, user.Get(), name, &nameLen, domain, &domainLen, &use))
        return domain[0] ? WString(domain) + L"\\" + name : WString(name);
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user.Get(), &text))
        return L"(unknown)";
    WString result(text);
    LocalFree(text);
    return result;
}

void SetProcessLog(LogFile* log) noexcept
{
    g_processLog = log;
}

LogFile* ProcessLog() noexcept
{
    return g_processLog;
}

} // namespace WWLib
