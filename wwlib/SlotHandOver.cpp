#include "SlotHandOver.h"

namespace WWLib {

SlotHandOver::SlotHandOver(LONG initial, LONG batch)
    : count_(initial), batch_(batch > 0 ? batch : 1), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

SlotHandOver::~SlotHandOver()
{
    if (event_)
        CloseHandle(event_);
}

LONG SlotHandOver::Read(volatile LONG& value) const
{
    return InterlockedCompareExchange(&value, 0, 0);
}

void SlotHandOver::Take()
{
    while (Read(count_) == 0) {
        InterlockedExchange(&waiting_, 1);
        // Looked at again once the wait is announced: a slot given in between
        // saw no waiter and woke no one.
        const LONG n = Read(count_);
        if (n >= batch_ || (n > 0 && Read(flush_))) {
            // Withdrawn; unless a giver saw the wait first and signals, which
            // is then taken so that no stale signal is left for the next wait.
            if (InterlockedExchange(&waiting_, 0) == 0)
                WaitForSingleObject(event_, INFINITE);
            break;
        }
        WaitForSingleObject(event_, INFINITE);
    }
    InterlockedDecrement(&count_);
}

void SlotHandOver::Give(bool flush)
{
    if (flush)
        InterlockedExchange(&flush_, 1);
    const LONG n = InterlockedIncrement(&count_);
    if ((n >= batch_ || Read(flush_)) && InterlockedCompareExchange(&waiting_, 0, 1) == 1)
        SetEvent(event_);
}

} // namespace WWLib
