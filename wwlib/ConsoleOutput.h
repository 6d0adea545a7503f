#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>
#include <streambuf>

namespace WWLib {

// The program's console text goes through std::wcout, whose buffer this
// replaces. On a console the text is written as UTF-16 (WriteConsoleW), so any
// path shows as the console's font allows. Into a pipe or a file it is written
// as UTF-8 without a byte-order mark, with each line end as CR LF, so that
// scripts capturing the output get every character of a non-ASCII path.
class ConsoleStreamBuf : public std::wstreambuf {
public:
    explicit ConsoleStreamBuf(HANDLE out);
    ~ConsoleStreamBuf() override;

    // The bytes or characters written for `text` into a pipe or file.
    static AString EncodeForFile(const wchar_t* text, std::size_t len);

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const wchar_t* s, std::streamsize n) override;
    int sync() override;

private:
    void Flush();

    HANDLE out_;
    bool console_;
    WString pending_;
};

// Points std::wcout at the process's standard output for the rest of the run.
void InstallConsoleOutput();

// Writes one line and a line end to the console, then flushes.
void ConsoleLine(const WString& text);
void ConsoleLine(const wchar_t* text);

} // namespace WWLib
