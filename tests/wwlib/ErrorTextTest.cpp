#include "../../wwlib/BaseException.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/SystemError.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <windows.h>

using namespace WWLib;
using Test::W;

namespace {

// A holder that records chosen results, to look at the texts it builds.
template <int Throw>
struct WinHolder : CWinApiBase<Throw> {
    void Do(unsigned long value, const wchar_t* name)
    {
        if (this->Succeeded())
            this->SetResult(value, name);
    }
};

struct ComHolder : CComBase<0> {
    void Do(long value, const wchar_t* name)
    {
        if (Succeeded())
            SetResult(value, name);
    }
};

std::wstring S(WView v)
{
    return std::wstring(v.p, v.len);
}

// The system's own text for a code, as FormatMessageW gives it.
std::wstring SystemText(DWORD code)
{
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0x0800, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n ? std::wstring(buf, n) : std::wstring();
    LocalFree(buf);
    return text;
}

} // namespace

TEST_CASE("Windows error texts")
{
    SUBCASE("the system's text without its line ends")
    {
        std::wstring sys = SystemText(2);
        REQUIRE(!sys.empty());
        CHECK((sys.back() == L'\n' || sys.back() == L'\r'));
        std::wstring text = W(WindowsErrorText(2));
        CHECK(text.back() != L'\n');
        CHECK(text.back() != L'\r');
        CHECK(sys.rfind(text, 0) == 0);
        CHECK(W(WindowsErrorTextWithCode(2)) == L"Windows error 2: " + text);
    }
    SUBCASE("a code without any text")
    {
        REQUIRE(SystemText(0x2BADBEEF).empty());
        CHECK(W(WindowsErrorText(0x2BADBEEF)) == L"Windows error 0x2BADBEEF.");
        CHECK(W(WindowsErrorTextWithCode(0x2BADBEEF)) == L"Windows error 0x2BADBEEF.");
        CHECK(W(WindowsErrorTextWithCode(98765)) == L"Windows error 98765.");
    }
    SUBCASE("the built-in table answers where the system is silent")
    {
        // Wine has no messages for these network and account codes.
        REQUIRE(SystemText(2245).empty());
        REQUIRE(SystemText(10048).empty());
        CHECK(W(WindowsErrorText(2245)) ==
              L"The password does not meet the password policy requirements. Check the minimum password length, "
              L"password complexity and password history requirements.");
        CHECK(W(WindowsErrorTextWithCode(10048)) ==
              L"Windows error 10048: Only one usage of each socket address (protocol/network address/port "
              L"is normally permitted.");
    }
    SUBCASE("the caller's last error survives")
    {
        SetLastError(1450);
        (void)WindowsErrorText(5);
        (void)WindowsErrorTextWithCode(0x2BADBEEF);
        CHECK(GetLastError() == 1450);
    }
}

TEST_CASE("result holders: code texts, success and failure texts")
{
    SUBCASE("a Windows holder's code text switches to hexadecimal above 99999")
    {
        WinHolder<0> a;
        a.Do(99999, L"X()");
        CHECK(W(a.CodeText()) == L"99999");
        WinHolder<0> b;
        b.Do(100000, L"X()");
        CHECK(W(b.CodeText()) == L"0x000186A0");
    }
    SUBCASE("a failed Windows holder")
    {
        WinHolder<0> h;
        CHECK(h.Succeeded());
        h.Do(2, L"RegOpenKeyExW()");
        CHECK(h.Failed());
        CHECK(S(h.FailureText()) == L"RegOpenKeyExW() failed: Windows error 2: " + W(WindowsErrorText(2)));
        CHECK(S(h.Kind()) == L"Windows");
    }
    SUBCASE("a Windows failure without any text still has the fallback text")
    {
        WinHolder<0> h;
        h.Do(0x2BADBEEF, L"Op()");
        CHECK(S(h.FailureText()) == L"Op() failed: Windows error 0x2BADBEEF: Windows error 0x2BADBEEF.");
    }
    SUBCASE("the first failure is kept")
    {
        WinHolder<0> h;
        h.Do(5, L"First()");
        h.Do(6, L"Second()");
        h.Do(0, L"Third()");
        CHECK(S(h.Name()) == L"First()");
        CHECK(h.Value() == 5);
    }
    SUBCASE("success text")
    {
        WinHolder<0> h;
        h.Do(0, L"RegCloseKey()");
        CHECK(S(h.SuccessText()) == L"RegCloseKey() succeeded.");
    }
    SUBCASE("COM holders")
    {
        ComHolder a;
        a.Do(static_cast<long>(0x80070002), L"CoCreateInstance()");
        CHECK(S(a.ErrorText()) == W(WindowsErrorText(2)));
        CHECK(S(a.FailureText()) ==
              L"CoCreateInstance() failed: COM error 0x80070002: " + W(WindowsErrorText(2)));
        ComHolder b;
        b.Do(static_cast<long>(0x80041234), L"Save()");
        CHECK(S(b.ErrorText()).empty());
        CHECK(S(b.FailureText()) == L"Save() failed: COM error 0x80041234.");
        ComHolder c;
        c.Do(static_cast<long>(0x80004002), L"QueryInterface()");
        CHECK(S(c.FailureText()) == L"QueryInterface() failed: COM error 0x80004002: No such interface supported.");
        ComHolder d;
        d.Do(1, L"Partial()");
        CHECK(d.Succeeded());
        CHECK(S(d.ErrorText()) == L"Partial success.");
    }
    SUBCASE("an exception built from a holder copies its result")
    {
        WinHolder<0> h;
        h.Do(5, L"Open()");
        RegException e(h);
        CHECK(W(e.OperationName()) == L"Open()");
        CHECK(e.Result() == 5);
        CHECK(W(e.Message()) == S(h.FailureText()));
        CHECK(W(e.ErrorText()) == W(WindowsErrorText(5)));
    }
}

TEST_CASE("SystemError texts")
{
    SystemError named(L"CopySid()", 5);
    CHECK(S(named.Description()) == L"CopySid() failed: " + W(WindowsErrorTextWithCode(5)));
    CHECK(S(named.LongDescription()) ==
          L"The system function CopySid() failed with the following error: " + W(WindowsErrorTextWithCode(5)));
    SystemError anonymous(L"", 5);
    CHECK(S(anonymous.Description()) == W(WindowsErrorTextWithCode(5)));
    CHECK(S(anonymous.LongDescription()) == W(WindowsErrorTextWithCode(5)));
    CHECK(std::string(named.what()).rfind("CopySid() failed: Windows error 5: ", 0) == 0);
}
