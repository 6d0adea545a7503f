#include "../../nocrtlib/NoCrtConvert.h"
#include "../../nocrtlib/NoCrtCrc32.h"
#include "../../nocrtlib/NoCrtFormat.h"
#include "../../nocrtlib/NoCrtPath.h"
#include "../../nocrtlib/WException.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include <vector>

namespace {

// An allocation policy that records what each released buffer held at the
// moment it went back, to prove that nothing but 0xFE is handed back.
struct RecordingHeap {
    static std::vector<std::vector<unsigned char>>& Released()
    {
        static std::vector<std::vector<unsigned char>> released;
        return released;
    }
    static void* Allocate(std::size_t bytes) { return ::operator new(bytes); }
    static void Release(void* p, std::size_t bytes)
    {
        auto* b = static_cast<unsigned char*>(p);
        Released().emplace_back(b, b + bytes);
        ::operator delete(p);
    }
};
using RecString = NoCrtStringT<wchar_t, RecordingHeap>;

bool AllFE(const std::vector<unsigned char>& bytes)
{
    for (unsigned char b : bytes)
        if (b != 0xFE)
            return false;
    return !bytes.empty();
}

std::wstring AssertionTextFor(const char* file, unsigned line, const char* expr)
{
    return Test::Widen(NoCrtAssertionText("Assertion failed in module '%s', PID %u, source file '%s', line %u:\r\n%s",
                                          file, line, expr)
                           .c_str());
}

// The text a failed check throws, or empty when nothing is thrown.
template <class F>
std::wstring AssertionOf(F f)
{
    try {
        f();
    } catch (const StrAssertionFailed& e) {
        return std::wstring(e.Description().p, e.Description().len);
    }
    return std::wstring();
}

bool EndsWith(const std::wstring& s, const std::wstring& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST_CASE("strings: editing, overlap and searches")
{
    SUBCASE("appending a string to itself and inserting a part of itself")
    {
        WString s(L"abc");
        s.append(s);
        CHECK(s == L"abcabc");
        WString t(L"hello");
        t.insert(1, t, 2, 2);
        CHECK(t == L"hllello");
        WString u(L"xyz");
        u.append(u.data() + 1, 2); // raw pointer into its own buffer
        CHECK(u == L"xyzyz");
    }
    SUBCASE("erase, substr, replace and compare")
    {
        WString s(L"C:\\dir\\file.exe");
        CHECK(s.substr(3, 3) == L"dir");
        CHECK(s.substr(7) == L"file.exe");
        s.erase(2, 4);
        CHECK(s == L"C:\\file.exe");
        s.replace(0, 2, L"D:", 2);
        CHECK(s == L"D:\\file.exe");
        CHECK(s.compare(0, 2, L"D:", 2) == 0);
        CHECK(s.startsWith(L"D:\\"));
        CHECK_FALSE(s.startsWith(L"\\??\\"));
    }
    SUBCASE("searches")
    {
        WString s(L"a\\b\\c");
        CHECK(s.find(L'\\') == 1);
        CHECK(s.find(L'\\', 2) == 3);
        CHECK(s.rfind(L'\\') == 3);
        CHECK(s.find_first_of(L"bc", 0) == 2);
        CHECK(s.find_last_of(L"ab") == 2);
        CHECK(s.find(L'z') == WString::npos);
    }
    SUBCASE("the hexadecimal scan")
    {
        CHECK(WString(L"12ab").findFirstNonHex() == WString::npos);
        CHECK(WString(L"12g4").findFirstNonHex() == 2);
        CHECK(WString(L"").findFirstNonHex() == WString::npos);
        CHECK(WString(L"FfAa09").findFirstNonHex() == WString::npos);
    }
    SUBCASE("an empty string has no visible characters and maybe no buffer")
    {
        WString e;
        CHECK(e.size() == 0);
        CHECK(e.storedLength() == 0);
        CHECK(std::wstring(e.c_str()).empty());
        WString f(L"x");
        f.erase(0);
        CHECK(f.storedLength() == 1);
        CHECK(f.size() == 0);
    }
}

TEST_CASE("strings: growth is exact and released memory holds only 0xFE")
{
    SUBCASE("capacity grows to exactly what an operation needs")
    {
        WString s(L"abc");
        CHECK(s.capacity() == 4);
        s.append(L"de");
        CHECK(s.capacity() == 6);
        s.reserve(10);
        CHECK(s.capacity() == 11);
    }
    SUBCASE("erasing leaves 0xFE in every byte beyond the new end")
    {
        WString s(L"secret-password");
        const wchar_t* buf = s.c_str();
        std::size_t cap = s.capacity();
        s.erase(3);
        CHECK(s == L"sec");
        CHECK(buf[3] == L'\0');
        const auto* bytes = reinterpret_cast<const unsigned char*>(buf + 4);
        std::size_t n = (cap - 4) * sizeof(wchar_t);
        bool wiped = true;
        for (std::size_t i = 0; i < n; ++i)
            wiped = wiped && bytes[i] == 0xFE;
        CHECK(wiped);
    }
    SUBCASE("a buffer given back on growth, clearing and destruction holds only 0xFE")
    {
        RecordingHeap::Released().clear();
        {
            RecString s(L"password");
            s.append(L"-and-more"); // grows: the old buffer goes back
            REQUIRE(RecordingHeap::Released().size() == 1);
            CHECK(RecordingHeap::Released()[0].size() == 9 * sizeof(wchar_t));
            CHECK(AllFE(RecordingHeap::Released()[0]));
        } // destruction
        REQUIRE(RecordingHeap::Released().size() == 2);
        CHECK(AllFE(RecordingHeap::Released()[1]));
    }
}

TEST_CASE("strings: every positional operation is checked with its own expression text")
{
    WString s(L"abc");
    SUBCASE("reading the terminator's place")
    {
        std::wstring text = AssertionOf([&] { (void)s[3]; });
        CHECK(EndsWith(text, L"\r\n!af_ && i<length()"));
        CHECK(text.find(L"source file 'nocrtlib\\NoCrtString', line ") != std::wstring::npos);
        CHECK(text.rfind(L"Assertion failed in module '", 0) == 0);
    }
    SUBCASE("the other checks")
    {
        WString other(L"xy");
        CHECK(EndsWith(AssertionOf([&] { s.erase(4); }), L"\r\npos <= len"));
        CHECK(EndsWith(AssertionOf([&] { (void)s.substr(5, 1); }), L"\r\npos <= len"));
        CHECK(EndsWith(AssertionOf([&] { s.replace(2, 2, L"q", 1); }), L"\r\np0 + n0 <= len"));
        CHECK(EndsWith(AssertionOf([&] { s.insert(0, other, 3, 1); }), L"\r\noff <= str.size()"));
        CHECK(EndsWith(AssertionOf([&] { (void)s.find(L'a', 4); }), L"\r\noff <= len"));
        CHECK(EndsWith(AssertionOf([&] { (void)s.find_first_of(L"a", 9); }), L"\r\noff <= len"));
        CHECK(EndsWith(AssertionOf([&] { (void)s.compare(1, 3, L"x", 1); }),
                       L"\r\n(pos1 <= len1) && (pos1 + num1 <= len1)"));
        CHECK(EndsWith(AssertionOf([&] { s.assign(other, 4, 0); }), L"\r\noff + toCopy <= str.size() + 1"));
        CHECK(s == L"abc"); // nothing was changed by a failed check
    }
}

TEST_CASE("assertion text: module, process, source, line and expression")
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring expected = std::wstring(L"Assertion failed in module '") + module + L"', PID " +
                            std::to_wstring(GetCurrentProcessId()) +
                            L", source file 'nocrtlib\\NoCrtString', line 171:\r\n!af_ && i<length()";
    CHECK(AssertionTextFor("nocrtlib/NoCrtString.h", 171, "!af_ && i<length()") == expected);
}

TEST_CASE("conversions name their code page")
{
    SUBCASE("empty and negative lengths")
    {
        AString n(" stale");
        CHECK(WideToNarrow(CP_ACP, L"", 0, n));
        CHECK(n.empty());
        CHECK_FALSE(WideToNarrow(CP_ACP, L"x", -1, n));
        WString w(L"stale");
        CHECK(NarrowToWide(CP_ACP, "", 0, w));
        CHECK(w.empty());
        CHECK_FALSE(NarrowToWide(CP_ACP, "x", -1, w));
    }
    SUBCASE("round trip through UTF-8 keeps every character")
    {
        const wchar_t text[] = L"Z\u00fcrich \u65e5\u672c \u0416";
        AString utf8 = W2N(CP_UTF8, text, static_cast<int>(wcslen(text)));
        CHECK(std::string(utf8.c_str()) == "Z\xc3\xbcrich \xe6\x97\xa5\xe6\x9c\xac \xd0\x96");
        WString back = N2W(CP_UTF8, utf8.c_str());
        CHECK(std::wstring(back.c_str()) == text);
    }
    SUBCASE("invalid bytes fail where the code page checks them, and not under UTF-8")
    {
        // 0x81 0x20 is a lead byte without a trail byte in Shift-JIS.
        WString w;
        CHECK_FALSE(NarrowToWide(932, "\x81\x20", 2, w));
        CHECK_THROWS_AS(N2W(932, "\x81\x20", 2), N2WException);
        CHECK(NarrowToWide(CP_UTF8, "a\xff", 2, w));
        CHECK(w.size() == 2);
    }
}

TEST_CASE("FormatUnsigned")
{
    wchar_t buf[80];
    CHECK(FormatUnsigned(0, 8, 16, buf) == 8);
    CHECK(std::wstring(buf) == L"00000000");
    FormatUnsigned(0xBEEF, 1, 16, buf);
    CHECK(std::wstring(buf) == L"BEEF");
    FormatUnsigned(5, 0, 1, buf); // radix 1 is radix 2
    CHECK(std::wstring(buf) == L"101");
    FormatUnsigned(71, 0, 40, buf); // radix 40 is radix 36
    CHECK(std::wstring(buf) == L"1Z");
    FormatUnsigned(0, 0, 10, buf);
    CHECK(std::wstring(buf) == L"0");
    FormatUnsigned(0xFFFFFFFFFFFFFFFFull, 0, 10, buf);
    CHECK(std::wstring(buf) == L"18446744073709551615");
}

TEST_CASE("PathJoin and SplitAtLast")
{
    CHECK(IsAbsolutePath(L"C:\\"));
    CHECK(IsAbsolutePath(L"\\\\server\\share"));
    CHECK_FALSE(IsAbsolutePath(L"C:dir"));
    CHECK_FALSE(IsAbsolutePath(L"\\dir"));
    CHECK_FALSE(IsAbsolutePath(L"dir\\file"));
    CHECK_FALSE(IsAbsolutePath(L""));
    CHECK(PathJoin(L"C:\\a\\", L"\\b") == L"C:\\a\\b");
    CHECK(PathJoin(L"C:\\a", L"b") == L"C:\\a\\b");
    CHECK(PathJoin(L"C:\\a\\", L"b") == L"C:\\a\\b");
    CHECK(PathJoin(L"C:\\a", L"\\b") == L"C:\\a\\b");
    CHECK(PathJoin(L"", L"b") == L"b");
    CHECK(PathJoin(L"a", L"") == L"a");

    SplitPath p = SplitAtLast(L"C:\\dir\\file.exe", L'\\');
    CHECK(p.head == L"C:\\dir");
    CHECK(p.tail == L"file.exe");
    p = SplitAtLast(L"C:\\dir\\", L'\\');
    CHECK(p.head == L"C:");
    CHECK(p.tail == L"dir");
    p = SplitAtLast(L"file.exe", L'\\');
    CHECK(p.head == L"file.exe");
    CHECK(p.tail == L"");
    p = SplitAtLast(L"\\x", L'\\');
    CHECK(p.head == L"");
    CHECK(p.tail == L"x");
    p = SplitAtLast(L"\\", L'\\');
    CHECK(p.head == L"");
    CHECK(p.tail == L"");
}

TEST_CASE("checksums and hexadecimal bytes, as the journal stores them")
{
    CHECK(NoCrtCrc32("123456789", 9) == 0xCBF43926u); // the standard check value
    CHECK(NoCrtCrc32("", 0) == 0u);
    const unsigned char bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
    CHECK(BytesToHex(bytes, 4) == WString(L"007FA5FF"));
    NoCrtDataVect<std::uint8_t> back;
    REQUIRE(HexToBytes(L"007FA5FF", back));
    CHECK((back.size() == 4 && back[0] == 0x00 && back[1] == 0x7F && back[2] == 0xA5 && back[3] == 0xFF));
    CHECK_FALSE(HexToBytes(L"007", back));
    CHECK(back.size() == 0);
    CHECK_FALSE(HexToBytes(L"00g1", back));
    CHECK_FALSE(HexToBytes(L"00a1", back)); // stored upper case only
    CHECK(HexToBytes(L"", back));
}
