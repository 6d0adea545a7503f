#include "../../wwlib/SlotHandOver.h"
#include <doctest/doctest.h>
#include <cstdint>
#include <vector>

using WWLib::SlotHandOver;

namespace {

struct Waiter {
    SlotHandOver* handOver;
    volatile LONG took;
};

DWORD WINAPI TakeOnce(void* p)
{
    auto* w = static_cast<Waiter*>(p);
    w->handOver->Take();
    InterlockedExchange(&w->took, 1);
    return 0;
}

bool Took(Waiter& w)
{
    return InterlockedCompareExchange(&w.took, 0, 0) != 0;
}

// A producer and a consumer passing numbered values through a small ring, as
// the package decoder and the file writer do; each side now and then yields,
// so that both find the other's side empty and wait.
struct Ring {
    static const int kSlots = 6;
    SlotHandOver free{kSlots, 3};
    SlotHandOver filled{0, 3};
    std::uint32_t values[kSlots] = {};
    std::uint32_t count = 0;
    std::uint32_t seed = 1;
};

bool Chance(std::uint32_t& seed)
{
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % 5 == 0;
}

DWORD WINAPI Produce(void* p)
{
    auto* ring = static_cast<Ring*>(p);
    std::uint32_t seed = ring->seed * 7u;
    for (std::uint32_t i = 0; i <= ring->count; ++i) {
        ring->free.Take();
        // The last value, an end mark, flushes as the decoder's ending does.
        ring->values[i % Ring::kSlots] = i == ring->count ? 0xffffffffu : i;
        ring->filled.Give(i == ring->count);
        if (Chance(seed))
            Sleep(0);
    }
    return 0;
}

} // namespace

TEST_CASE("slots handed between two threads")
{
    SUBCASE("a waiting taker sleeps until a batch is there")
    {
        SlotHandOver h(0, 4);
        REQUIRE(h.Valid());
        Waiter w{&h, 0};
        HANDLE t = CreateThread(nullptr, 0, &TakeOnce, &w, 0, nullptr);
        REQUIRE(t);
        Sleep(50);
        for (int i = 0; i < 3; ++i)
            h.Give();
        CHECK(WaitForSingleObject(t, 200) == WAIT_TIMEOUT);
        CHECK_FALSE(Took(w));
        h.Give();
        CHECK(WaitForSingleObject(t, 10000) == WAIT_OBJECT_0);
        CHECK(Took(w));
        CloseHandle(t);
    }
    SUBCASE("a flush wakes it at once, and for every slot after")
    {
        SlotHandOver h(0, 4);
        Waiter w{&h, 0};
        HANDLE t = CreateThread(nullptr, 0, &TakeOnce, &w, 0, nullptr);
        REQUIRE(t);
        Sleep(50);
        h.Give(true);
        CHECK(WaitForSingleObject(t, 10000) == WAIT_OBJECT_0);
        CloseHandle(t);
        // Taken again with nothing there: the next single slot wakes it.
        Waiter again{&h, 0};
        t = CreateThread(nullptr, 0, &TakeOnce, &again, 0, nullptr);
        REQUIRE(t);
        Sleep(50);
        CHECK_FALSE(Took(again));
        h.Give();
        CHECK(WaitForSingleObject(t, 10000) == WAIT_OBJECT_0);
        CloseHandle(t);
    }
    SUBCASE("streams of every length arrive whole and in order, and neither side hangs")
    {
        for (std::uint32_t length = 0; length < 300; length += 7) {
            Ring ring;
            ring.count = length;
            ring.seed = length + 1;
            HANDLE producer = CreateThread(nullptr, 0, &Produce, &ring, 0, nullptr);
            REQUIRE(producer);
            std::vector<std::uint32_t> got;
            std::uint32_t seed = length + 3;
            for (std::uint32_t i = 0;; ++i) {
                ring.filled.Take();
                const std::uint32_t v = ring.values[i % Ring::kSlots];
                ring.free.Give();
                if (v == 0xffffffffu)
                    break;
                got.push_back(v);
                if (Chance(seed))
                    Sleep(0);
            }
            // A producer that lost a wake-up would never end.
            REQUIRE(WaitForSingleObject(producer, 10000) == WAIT_OBJECT_0);
            CloseHandle(producer);
            REQUIRE(got.size() == length);
            for (std::uint32_t i = 0; i < length; ++i)
                REQUIRE(got[i] == i);
        }
    }
}
