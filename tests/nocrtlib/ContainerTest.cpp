#include "../../nocrtlib/NoCrtHandle.h"
#include "../../nocrtlib/NoCrtVector.h"
#include "../../nocrtlib/NumCvt.h"
#include "../../nocrtlib/RefCountable.h"
#include "../../nocrtlib/WException.h"
#include <doctest/doctest.h>
#include <string>
#include <vector>

namespace {

std::wstring ExpressionOf(const StrAssertionFailed& e)
{
    std::wstring text(e.Description().p, e.Description().len);
    return text.substr(text.find(L"\r\n") + 2);
}

template <class F>
std::wstring FailedCheck(F f)
{
    try {
        f();
    } catch (const StrAssertionFailed& e) {
        return ExpressionOf(e);
    }
    return L"(no assertion)";
}

struct Tracked : RefCountable {
    explicit Tracked(std::vector<int>* log, int id) : log_(log), id_(id) {}
    ~Tracked() override { log_->push_back(id_); }
    std::vector<int>* log_;
    int id_;
};

struct Element {
    Element(std::vector<int>* log, int id) : log_(log), id_(id) {}
    ~Element() { log_->push_back(id_); }
    std::vector<int>* log_;
    int id_;
};

} // namespace

TEST_CASE("data vector: exact growth, checks and wiping")
{
    NoCrtDataVect<int> v;
    for (int i = 0; i < 5; ++i)
        v.push_back(i);
    CHECK(v.size() == 5);
    CHECK(v.capacity() == 5);

    SUBCASE("insert from inside itself")
    {
        v.insert(0, v.data() + 3, 2);
        CHECK(v.size() == 7);
        CHECK(v[0] == 3);
        CHECK(v[1] == 4);
        CHECK(v[2] == 0);
    }
    SUBCASE("erase by index and by pointer range, tail wiped")
    {
        v.erase(1, 2);
        CHECK(v.size() == 3);
        CHECK(v[1] == 3);
        const unsigned char* tail = reinterpret_cast<const unsigned char*>(v.data() + 3);
        bool wiped = true;
        for (std::size_t i = 0; i < 2 * sizeof(int); ++i)
            wiped = wiped && tail[i] == 0xFE;
        CHECK(wiped);
        v.erase(v.data(), v.data() + 1);
        CHECK(v.size() == 2);
        CHECK(v[0] == 3);
    }
    SUBCASE("every check names its expression")
    {
        CHECK(FailedCheck([&] { (void)v[5]; }) == L"!af_ && i<s_");
        CHECK(FailedCheck([&] { v.erase(6, 0); }) == L"pos <= s_");
        CHECK(FailedCheck([&] { v.erase(4, 2); }) == L"pos + count <= s_");
        CHECK(FailedCheck([&] { (void)v.sub(3, 3); }) == L"pos + count <= s_");
        int outside = 0;
        CHECK(FailedCheck([&] { v.erase(&outside, &outside); }) == L"(p1 >= p_) && (p1 <= p_ + s_)");
        CHECK(FailedCheck([&] { v.erase(v.data() + 2, v.data() + 1); }) == L"(p2 >= p1) && (p2 <= p_ + s_)");
        CHECK(v.size() == 5);
    }
}

TEST_CASE("owned-pointer vector: owns its elements, iterators are checked")
{
    std::vector<int> log;
    {
        NoCrtVector<Element> v;
        v.emplace_back(&log, 1);
        v.emplace_back(&log, 2);
        v.emplace_back(&log, 3);
        int sum = 0;
        for (auto it = v.begin(); it != v.end(); ++it)
            sum += it->id_;
        CHECK(sum == 6);

        NoCrtVector<Element> other;
        CHECK(FailedCheck([&] { (void)(v.begin() == other.begin()); }) == L"ptrs_ == x.ptrs_");
        NoCrtVector<Element>::iterator loose;
        CHECK(FailedCheck([&] { (void)*loose; }) == L"ptrs_");
        CHECK(log.empty());
    }
    CHECK(log == std::vector<int>{1, 2, 3}); // deleted in index order
}

TEST_CASE("reference counting")
{
    std::vector<int> log;
    SUBCASE("the last counted pointer deletes the object")
    {
        Tracked* t = new Tracked(&log, 7);
        CHECK(t->RefCount() == RefCountable::INIT_REFCOUNT);
        {
            RefPtr<Tracked> a(t);
            CHECK(t->RefCount() == 1);
            RefPtr<Tracked> b = a;
            CHECK(t->RefCount() == 2);
        }
        CHECK(log == std::vector<int>{7});
    }
    SUBCASE("a local object never shared passes its destructor check")
    {
        CHECK_NOTHROW([&] { Tracked local(&log, 1); }());
    }
    SUBCASE("an object still shared at destruction fails the check")
    {
        std::wstring expr = FailedCheck([&] {
            Tracked local(&log, 2);
            local.AddRef();
            local.AddRef();
        });
        CHECK(expr == L"m_refCount == DESTROY_REFCOUNT || m_refCount == INIT_REFCOUNT");
    }
    SUBCASE("releasing an object that is not live fails the check")
    {
        Tracked local(&log, 3);
        CHECK(FailedCheck([&] { local.Release(); }) == L"m_refCount > 0 && m_refCount < INIT_REFCOUNT");
    }
}

TEST_CASE("checked numeric conversion")
{
    CHECK(NumCvt<unsigned short>(65535) == 65535);
    CHECK(FailedCheck([] { (void)NumCvt<unsigned>(-1); }) == L"value >= 0");
    CHECK(FailedCheck([] { (void)NumCvt<unsigned char>(256); }) == L"value <= OutType(-1)");
}

TEST_CASE("handle holders keep the thread's last error")
{
    SUBCASE("a failing close does not overwrite the error being reported")
    {
        {
            NoCrtHandle h(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x12340)));
            CHECK(h.valid());
            SetLastError(1234);
        }
        CHECK(GetLastError() == 1234);
    }
    SUBCASE("null and INVALID_HANDLE_VALUE are none")
    {
        NoCrtHandle a(nullptr);
        NoCrtHandle b(INVALID_HANDLE_VALUE);
        CHECK_FALSE(a.valid());
        CHECK_FALSE(b.valid());
    }
    SUBCASE("a real handle is closed exactly once")
    {
        HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE dup;
        REQUIRE(DuplicateHandle(GetCurrentProcess(), ev, GetCurrentProcess(), &dup, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
        {
            NoCrtHandle h(dup);
        }
        DWORD flags;
        CHECK_FALSE(GetHandleInformation(dup, &flags));
        CHECK(GetHandleInformation(ev, &flags));
        CloseHandle(ev);
    }
    SUBCASE("the keeper restores what it saved")
    {
        SetLastError(42);
        {
            NoCrtLastErrorKeeper keep;
            SetLastError(5);
        }
        CHECK(GetLastError() == 42);
    }
    SUBCASE("local memory is freed")
    {
        HLOCAL mem = LocalAlloc(LMEM_FIXED, 16);
        {
            NoCrtLocalMem m(mem);
            CHECK(m.get() == mem);
            SetLastError(77);
        }
        CHECK(GetLastError() == 77);
    }
}
