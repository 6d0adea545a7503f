#include "../../nocrtlib/OpEx.h"
#include "../../nocrtlib/StructuredException.h"
#include "../../nocrtlib/WException.h"
#include "../../wwlib/NoCrtRandom.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <string>

namespace {

struct Marker {
    explicit Marker(int* count) : count_(count) {}
    ~Marker() { ++*count_; }
    int* count_;
};

__attribute__((noinline)) void WriteThrough(volatile int* p)
{
    *p = 1;
}

volatile int g_zero = 0;
volatile int g_quotient;

__attribute__((noinline)) void Divide(int a)
{
    g_quotient = a / g_zero;
}

// A fault deep in a call chain, with objects to destroy in each frame.
__attribute__((noinline)) void Nested(int depth, int* destroyed)
{
    Marker m(destroyed);
    if (depth == 0)
        WriteThrough(nullptr);
    else
        Nested(depth - 1, destroyed);
}

} // namespace

TEST_CASE("what() converts the description once and caches it")
{
    SUBCASE("an empty message stays empty")
    {
        WStrException e(L"");
        CHECK(std::string(e.what()) == "");
        CHECK(std::string(e.what()) == "");
    }
    SUBCASE("the cache is the ANSI form of the description")
    {
        WStrException e(L"plain text");
        const char* first = e.what();
        CHECK(std::string(first) == "plain text");
        CHECK(e.what() == first);
    }
    SUBCASE("a character the ANSI code page lacks is replaced, not a failure")
    {
        WStrException e(L"snow \u2603 man");
        std::string w = e.what();
        CHECK(w.substr(0, 5) == "snow ");
        CHECK(w.find("man") != std::string::npos);
        CHECK(w.find("[WException") == std::string::npos);
    }
    SUBCASE("a copy keeps the message")
    {
        WStrException e(L"abc");
        WStrException c = e;
        CHECK(std::string(c.what()) == "abc");
    }
}

TEST_CASE("the exception tree has single virtual bases")
{
    try {
        throw StrAssertionFailed(L"broken");
    } catch (const std::exception& e) {
        // One std::exception, reachable through either side of the diamond.
        CHECK(std::string(e.what()) == "broken");
        CHECK(dynamic_cast<const AssertionFailed*>(&e) != nullptr);
        CHECK(dynamic_cast<const WStrException*>(&e) != nullptr);
    }
    try {
        throw StrInvalidArgument(L"bad arg");
    } catch (const InvalidInput& e) {
        CHECK(std::string(e.what()) == "bad arg");
    }
    N2WException n;
    W2NException w;
    CHECK(std::string(n.what()) == "Narrow-to-wide conversion failed");
    CHECK(std::string(w.what()) == "Wide-to-narrow conversion failed");
}

TEST_CASE("OpEx: heading, then the entries")
{
    OpCx cx;
    CHECK(std::wstring(OpEx(L"Heading", cx).Description().p) == L"Heading");
    cx.Add(L"first()");
    cx.Add(L"second()");
    OpEx e(L"Heading", cx);
    CHECK(std::wstring(e.Description().p) == L"Heading\n- first()\n- second()");
    OpEx copy = e;
    CHECK(std::wstring(copy.Description().p) == L"Heading\n- first()\n- second()");
    CHECK(std::wstring(OpEx(L"", cx).Description().p) == L"- first()\n- second()");
}

TEST_CASE("structured exceptions raised by this program's code arrive as C++ exceptions")
{
    StructuredExceptionTranslator translator;
    SUBCASE("an access violation, with destructors run on the way")
    {
        int destroyed = 0;
        bool caught = false;
        try {
            Nested(3, &destroyed);
        } catch (const SE_AccessViolation& e) {
            caught = true;
            CHECK(std::string(e.what()) == "EXCEPTION_ACCESS_VIOLATION");
            CHECK(e.Code() == 0xC0000005);
        }
        CHECK(caught);
        CHECK(destroyed == 4);
    }
    SUBCASE("a division by zero")
    {
        CHECK_THROWS_AS(Divide(1), SE_IntDivideByZero);
    }
    SUBCASE("the translator can be used again after a translation")
    {
        for (int i = 0; i < 3; ++i)
            CHECK_THROWS_AS(WriteThrough(nullptr), SE_AccessViolation);
    }
    SUBCASE("a code without a class of its own")
    {
        try {
            TranslateStructuredException(0xE0001234, nullptr);
        } catch (const SE_AccessViolation&) {
            FAIL("wrong class");
        } catch (const StructuredException& e) {
            CHECK(e.Code() == 0xE0001234);
            CHECK(std::string(e.what()) == "unrecognized structured exception");
        }
    }
    SUBCASE("each class carries its own code and name")
    {
        try {
            TranslateStructuredException(0xC00000FD, nullptr);
        } catch (const SE_StackOverflow& e) {
            CHECK(std::string(e.what()) == "EXCEPTION_STACK_OVERFLOW");
        }
        try {
            TranslateStructuredException(0x80000003, nullptr);
        } catch (const SE_Breakpoint& e) {
            CHECK(std::string(e.what()) == "EXCEPTION_BREAKPOINT");
        }
    }
}

TEST_CASE("system DLLs keep handling their own exceptions while the translator is in place")
{
    StructuredExceptionTranslator translator;
    // IsBadReadPtr probes memory and catches the fault inside the system DLL.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    CHECK(IsBadReadPtr(reinterpret_cast<void*>(0x10), 4));
#pragma GCC diagnostic pop
    // A C++ exception passes through untouched.
    CHECK_THROWS_AS(throw WStrException(L"x"), WStrException);
}

TEST_CASE("the random generator is shared by counted guards")
{
    LONG before = NoCrtRandom::Users();
    {
        NoCrtRandom a;
        NoCrtRandom b;
        CHECK(NoCrtRandom::Users() == before + 2);
        unsigned char bytes[32] = {};
        CHECK(NoCrtRandom::Fill(bytes, sizeof(bytes)));
        int nonzero = 0;
        for (unsigned char c : bytes)
            nonzero += c != 0;
        CHECK(nonzero > 0);
    }
    CHECK(NoCrtRandom::Users() == before);
}

TEST_CASE("the terminating assertion reports and ends the process with 34821")
{
    Test::ChildResult r = Test::RunCaptured(L"\"" + Test::OwnDirectory() + L"\\assert_terminate_child.exe\"");
    CHECK(r.exitCode == 34821);
    CHECK(r.output.find("\r\nAssertion failed in module '") == 0);
    CHECK(r.output.find("source file 'nocrtlib\\RefCountable', line ") != std::string::npos);
    CHECK(r.output.find(":\r\nm_refCount == DESTROY_REFCOUNT || m_refCount == INIT_REFCOUNT\r\n"
                        "The asserting thread will be terminated.\r\n") != std::string::npos);
    CHECK(r.output.find("destructor reached") == std::string::npos);
}
