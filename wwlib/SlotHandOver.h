#pragma once
#include "../nocrtlib/NoCopy.h"
#include <windows.h>

namespace WWLib {

// Slots of a ring handed from one thread to another: one side gives, the
// other takes, and only the taker ever waits. A taker that finds nothing
// sleeps until `batch` slots are there (or a giver flushes), so that a side
// that keeps up with the other is woken once for several slots, not for each:
// every wake-up is a call into the system, under Wine a request to its
// server, and one a slot had cost a decoder that fed a writer a tenth of its
// time.
class SlotHandOver : NoCopy {
public:
    SlotHandOver(LONG initial, LONG batch);
    ~SlotHandOver();
    // False when the system gave no event: the ring cannot be shared.
    bool Valid() const { return event_ != nullptr; }

    // Takes one slot; when there is none, waits as said above. One thread
    // alone takes.
    void Take();
    // Gives one slot. `flush`: the taker is woken now, and from now on at
    // every slot (the giver has no more to come, or is stopping).
    void Give(bool flush = false);

private:
    LONG Read(volatile LONG& value) const;

    volatile LONG count_;
    volatile LONG waiting_ = 0;
    volatile LONG flush_ = 0;
    const LONG batch_;
    HANDLE event_;
};

} // namespace WWLib
