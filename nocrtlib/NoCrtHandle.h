#pragma once
#include "NoCopy.h"
#include <windows.h>

// Keeps the thread's last-error value across a scope: saved at construction,
// restored at destruction.
class NoCrtLastErrorKeeper : NoCopy {
public:
    NoCrtLastErrorKeeper() : err_(GetLastError()) {}
    ~NoCrtLastErrorKeeper() { SetLastError(err_); }

private:
    DWORD err_;
};

// Holders of one system resource each. Release happens at destruction or when
// a new value is given, and never changes the thread's last error, so cleanup
// on an error path leaves the error being reported intact.
template <class Traits>
class NoCrtHolder : NoCopy {
public:
    using Type = typename Traits::Type;

    NoCrtHolder() = default;
    explicit NoCrtHolder(Type v) { reset(v); }
    ~NoCrtHolder() { reset(); }

    void reset(Type v = Traits::None())
    {
        if (owns_) {
            NoCrtLastErrorKeeper keep;
            Traits::Free(value_);
        }
        value_ = v;
        owns_ = !Traits::IsNone(v);
    }
    Type get() const { return value_; }
    bool valid() const { return owns_; }
    Type release()
    {
        owns_ = false;
        Type v = value_;
        value_ = Traits::None();
        return v;
    }

private:
    bool owns_ = false;
    Type value_ = Traits::None();
};

// A kernel handle: null and INVALID_HANDLE_VALUE both mean none.
struct NoCrtHandleTraits {
    using Type = HANDLE;
    static Type None() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Free(Type h) { CloseHandle(h); }
};

// A mapped view of a file mapping: null means none.
struct NoCrtMappedViewTraits {
    using Type = void*;
    static Type None() { return nullptr; }
    static bool IsNone(Type p) { return p == nullptr; }
    static void Free(Type p) { UnmapViewOfFile(p); }
};

// Memory from LocalAlloc: null means none.
struct NoCrtLocalMemTraits {
    using Type = HLOCAL;
    static Type None() { return nullptr; }
    static bool IsNone(Type p) { return p == nullptr; }
    static void Free(Type p) { LocalFree(p); }
};

using NoCrtHandle = NoCrtHolder<NoCrtHandleTraits>;
using NoCrtMappedView = NoCrtHolder<NoCrtMappedViewTraits>;
using NoCrtLocalMem = NoCrtHolder<NoCrtLocalMemTraits>;
