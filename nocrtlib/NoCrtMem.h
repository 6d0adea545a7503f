#pragma once
#include <cstddef>

// Overwrites memory with 0xFE in a way the optimiser cannot drop, so that
// secrets do not linger in memory handed back to the heap.
void NoCrtWipe(void* p, std::size_t bytes);

// The library's containers allocate through this policy. The containers wipe a
// buffer before they give it back; tests substitute a policy that records what
// a released buffer held.
struct NoCrtHeap {
    static void* Allocate(std::size_t bytes);
    static void Release(void* p, std::size_t bytes);
};

// Marker of a failed allocation carried by strings, vectors and operation
// contexts. Every allocation failure throws std::bad_alloc before the marker
// could be set, so it stays false; the checks still name it.
class NoCrtAllocFail {
protected:
    bool af_ = false;
public:
    bool AllocFailed() const { return af_; }
};
