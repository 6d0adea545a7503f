#include "ConsoleOutput.h"
#include "LogFile.h"
#include "../nocrtlib/NoCrtConvert.h"
#include <iostream>

namespace WWLib {

ConsoleStreamBuf::ConsoleStreamBuf(HANDLE out) : out_(out)
{
    DWORD mode = 0;
    console_ = out_ && out_ != INVALID_HANDLE_VALUE && GetConsoleMode(out_, &mode);
}

ConsoleStreamBuf::~ConsoleStreamBuf()
{
    Flush();
}

AString ConsoleStreamBuf::EncodeForFile(const wchar_t* text, std::size_t len)
{
    WString crlf;
    crlf.reserve(len + len / 8);
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            crlf += L'\r';
        crlf += text[i];
    }
    AString bytes;
    // Text that is not valid UTF-16 (a lone surrogate) is written as far as it
    // converts; the console must never fail the run.
    if (!WideToNarrow(CP_UTF8, crlf.data(), static_cast<int>(crlf.size()), bytes))
        bytes.clear();
    return bytes;
}

ConsoleStreamBuf::int_type ConsoleStreamBuf::overflow(int_type ch)
{
    if (ch != traits_type::eof())
        pending_ += static_cast<wchar_t>(ch);
    return traits_type::not_eof(ch);
}

std::streamsize ConsoleStreamBuf::xsputn(const wchar_t* s, std::streamsize n)
{
    pending_.append(s, static_cast<std::size_t>(n));
    return n;
}

int ConsoleStreamBuf::sync()
{
    Flush();
    return 0;
}

void ConsoleStreamBuf::Flush()
{
    // The log takes the text also where there is no console to write to (a
    // run as SYSTEM).
    if (!pending_.empty())
        if (LogFile* log = ProcessLog())
            log->Write(pending_.data(), pending_.size());
    if (pending_.empty() || !out_ || out_ == INVALID_HANDLE_VALUE) {
        pending_.clear();
        return;
    }
    DWORD done = 0;
    if (console_) {
        WriteConsoleW(out_, pending_.data(), static_cast<DWORD>(pending_.size()), &done, nullptr);
    } else {
        AString bytes = EncodeForFile(pending_.data(), pending_.size());
        WriteFile(out_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    }
    pending_.clear();
}

void InstallConsoleOutput()
{
    static ConsoleStreamBuf buf(GetStdHandle(STD_OUTPUT_HANDLE));
    std::wcout.rdbuf(&buf);
    std::wcout.clear();
}

void ConsoleLine(const WString& text)
{
    std::wcout << text.c_str() << std::endl;
}

void ConsoleLine(const wchar_t* text)
{
    std::wcout << text << std::endl;
}

} // namespace WWLib
