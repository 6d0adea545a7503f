#pragma once
// Captures what the code under test writes to std::wcout, line by line.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace Test {

class ConsoleCapture {
public:
    ConsoleCapture() : old_(std::wcout.rdbuf(&buf_)) {}
    ~ConsoleCapture() { std::wcout.rdbuf(old_); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        std::wistringstream in(buf_.str());
        for (std::wstring line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::wstring Text() const { return buf_.str(); }
    void Clear() { buf_.str(std::wstring()); }

private:
    std::wstringbuf buf_;
    std::wstreambuf* old_;
};

} // namespace Test
