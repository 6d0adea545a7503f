#pragma once
#include "../nocrtlib/OpEx.h"
#include <windows.h>

// Failure to start the process-wide random generator.
class NoCrtRandomException : public OpEx {
public:
    using OpEx::OpEx;
};

// Guard of the process-wide random generator: the first guard acquires the
// cryptographic context, later ones count; the last release returns it.
// Construction throws NoCrtRandomException when no context can be had.
class NoCrtRandom {
public:
    NoCrtRandom();
    ~NoCrtRandom();
    NoCrtRandom(const NoCrtRandom&) = delete;
    NoCrtRandom& operator=(const NoCrtRandom&) = delete;

    // Fills `buf` with random bytes; false when the provider fails.
    static bool Fill(void* buf, DWORD size);
    static LONG Users();
};
