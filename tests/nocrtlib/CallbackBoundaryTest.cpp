// Exceptions and faults inside functions that Windows calls come out on the
// caller's side of the API, on both builds: a system DLL's frames never see
// them (the 32-bit build's unwinder cannot pass those frames).
#include "../../nocrtlib/CallbackBoundary.h"
#include "../../nocrtlib/StructuredException.h"
#include "../../nocrtlib/WException.h"
#include <doctest/doctest.h>
#include <windows.h>
#include <string>

namespace {

enum class Failure { None, CppException, Fault };

struct Context {
    CallbackBoundary boundary;
    Failure failure = Failure::None;
    int calls = 0;
    int destroyed = 0;
};

Context* g_context; // EnumSystemLocalesW passes no context of its own

struct Marker {
    explicit Marker(int* count) : count_(count) {}
    ~Marker() { ++*count_; }
    int* count_;
};

__attribute__((noinline)) void Fail(Context& cx)
{
    Marker m(&cx.destroyed);
    if (cx.failure == Failure::CppException)
        throw WStrException(L"thrown in callback " + WString(std::to_wstring(cx.calls).c_str()));
    if (cx.failure == Failure::Fault)
        *static_cast<volatile int*>(nullptr) = cx.calls;
}

BOOL CALLBACK OnLocale(LPWSTR)
{
    Context& cx = *g_context;
    return cx.boundary.Run(FALSE, [&cx] {
        ++cx.calls;
        Fail(cx);
        return TRUE;
    });
}

LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg != WM_APP)
        return DefWindowProcW(hwnd, msg, wp, lp);
    Context& cx = *reinterpret_cast<Context*>(lp);
    return cx.boundary.Run(LRESULT(0), [&cx]() -> LRESULT {
        ++cx.calls;
        Fail(cx);
        return 1;
    });
}

DWORD WINAPI TestThread(void* p)
{
    Context& cx = *static_cast<Context*>(p);
    return cx.boundary.Run(DWORD(1), [&cx]() -> DWORD {
        ++cx.calls;
        Fail(cx);
        return 0;
    });
}

std::wstring DescriptionOf(CallbackBoundary& b)
{
    try {
        b.Rethrow();
    } catch (const WStrException& e) {
        return std::wstring(e.Description().p, e.Description().len);
    }
    return L"(nothing rethrown)";
}

} // namespace

TEST_CASE("an enumeration callback: the exception comes out after the API returns")
{
    StructuredExceptionTranslator translator;
    Context cx;
    g_context = &cx;
    SUBCASE("without a failure the enumeration runs through")
    {
        CHECK(EnumSystemLocalesW(&OnLocale, LCID_INSTALLED));
        CHECK(cx.calls > 1);
        CHECK_FALSE(cx.boundary.Failed());
        CHECK_NOTHROW(cx.boundary.Rethrow());
    }
    SUBCASE("a C++ exception stops the enumeration and is rethrown whole")
    {
        cx.failure = Failure::CppException;
        EnumSystemLocalesW(&OnLocale, LCID_INSTALLED);
        CHECK(cx.calls == 1);
        CHECK(cx.destroyed == 1);
        REQUIRE(cx.boundary.Failed());
        CHECK(DescriptionOf(cx.boundary) == L"thrown in callback 1");
        // Rethrown once: the boundary is clear again.
        CHECK_FALSE(cx.boundary.Failed());
    }
    SUBCASE("a fault in the callback arrives as the translated exception")
    {
        cx.failure = Failure::Fault;
        EnumSystemLocalesW(&OnLocale, LCID_INSTALLED);
        CHECK(cx.calls == 1);
        CHECK(cx.destroyed == 1);
        CHECK_THROWS_AS(cx.boundary.Rethrow(), SE_AccessViolation);
    }
    g_context = nullptr;
}

TEST_CASE("a window procedure: the exception comes out after SendMessageW returns")
{
    StructuredExceptionTranslator translator;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &TestWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuendalBoundaryTest";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    REQUIRE(hwnd != nullptr);
    Context cx;
    SUBCASE("a C++ exception; the first one is kept when several callbacks fail")
    {
        cx.failure = Failure::CppException;
        CHECK(SendMessageW(hwnd, WM_APP, 0, reinterpret_cast<LPARAM>(&cx)) == 0);
        CHECK(SendMessageW(hwnd, WM_APP, 0, reinterpret_cast<LPARAM>(&cx)) == 0);
        CHECK(cx.calls == 2);
        CHECK(DescriptionOf(cx.boundary) == L"thrown in callback 1");
    }
    SUBCASE("a fault")
    {
        cx.failure = Failure::Fault;
        CHECK(SendMessageW(hwnd, WM_APP, 0, reinterpret_cast<LPARAM>(&cx)) == 0);
        CHECK(cx.destroyed == 1);
        CHECK_THROWS_AS(cx.boundary.Rethrow(), SE_AccessViolation);
    }
    SUBCASE("no failure: the procedure's own result")
    {
        CHECK(SendMessageW(hwnd, WM_APP, 0, reinterpret_cast<LPARAM>(&cx)) == 1);
        CHECK_FALSE(cx.boundary.Failed());
    }
    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST_CASE("a thread routine: the exception is carried to the thread that waits for it")
{
    Context cx;
    cx.failure = Failure::CppException;
    HANDLE thread = CreateThread(nullptr, 0, &TestThread, &cx, 0, nullptr);
    REQUIRE(thread != nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    CHECK(code == 1);
    CHECK(cx.destroyed == 1);
    CHECK(DescriptionOf(cx.boundary) == L"thrown in callback 1");
}
