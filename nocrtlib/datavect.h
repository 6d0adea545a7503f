#pragma once
#include "NoCrtAssert.h"
#include "NoCrtMem.h"
#include "NoCrtMemOps.h"
#include <cstddef>
#include <cstring>
#include <type_traits>

// A contiguous array of plain, bitwise-copyable elements. It grows to exactly
// the size an operation needs, checks every position, and overwrites memory
// with 0xFE before releasing it and beyond its end when it shrinks.
template <class T, class Alloc = NoCrtHeap>
class NoCrtDataVect : public NoCrtAllocFail {
    static_assert(std::is_trivially_copyable<T>::value, "elements are copied bitwise");

public:
    NoCrtDataVect() = default;
    NoCrtDataVect(const NoCrtDataVect& o) { assign(o.p_, o.s_); }
    NoCrtDataVect(NoCrtDataVect&& o) noexcept : p_(o.p_), s_(o.s_), c_(o.c_)
    {
        o.p_ = nullptr;
        o.s_ = o.c_ = 0;
    }
    ~NoCrtDataVect() { Release(); }
    NoCrtDataVect& operator=(const NoCrtDataVect& o)
    {
        if (this != &o)
            assign(o.p_, o.s_);
        return *this;
    }
    NoCrtDataVect& operator=(NoCrtDataVect&& o) noexcept
    {
        if (this != &o) {
            Release();
            p_ = o.p_; s_ = o.s_; c_ = o.c_;
            o.p_ = nullptr;
            o.s_ = o.c_ = 0;
        }
        return *this;
    }

    std::size_t size() const { return s_; }
    std::size_t capacity() const { return c_; }
    bool empty() const { return s_ == 0; }
    T* data() { return p_; }
    const T* data() const { return p_; }
    T* begin() { return p_; }
    T* end() { return p_ + s_; }
    const T* begin() const { return p_; }
    const T* end() const { return p_ + s_; }

    T& operator[](std::size_t i)
    {
        NoCrtAssert(!af_ && i<s_);
        return p_[i];
    }
    const T& operator[](std::size_t i) const
    {
        NoCrtAssert(!af_ && i<s_);
        return p_[i];
    }

    void reserve(std::size_t n)
    {
        if (n > c_)
            Grow(n);
    }

    void assign(const T* src, std::size_t n)
    {
        clear();
        insert(0, src, n);
    }

    void push_back(const T& v) { insert(s_, &v, 1); }

    // Inserts n elements at pos; the source may lie inside this vector.
    void insert(std::size_t pos, const T* src, std::size_t n)
    {
        NoCrtAssert(pos <= s_);
        if (!n)
            return;
        if (s_ + n > c_ || (src >= p_ && src < p_ + c_)) {
            T* q = static_cast<T*>(Alloc::Allocate((s_ + n) * sizeof(T)));
            NoCrtMove(q, p_, pos);
            NoCrtMove(q + pos, src, n);
            NoCrtMove(q + pos + n, p_ + pos, s_ - pos);
            std::size_t size = s_ + n;
            Release();
            p_ = q;
            s_ = c_ = size;
            return;
        }
        NoCrtMove(p_ + pos + n, p_ + pos, s_ - pos);
        NoCrtMove(p_ + pos, src, n);
        s_ += n;
    }

    void erase(std::size_t pos, std::size_t count = 1)
    {
        NoCrtAssert(pos <= s_);
        NoCrtAssert(pos + count <= s_);
        NoCrtMove(p_ + pos, p_ + pos + count, s_ - pos - count);
        Shrink(s_ - count);
    }

    // Erases the elements in [p1, p2).
    void erase(const T* p1, const T* p2)
    {
        NoCrtAssert((p1 >= p_) && (p1 <= p_ + s_));
        NoCrtAssert((p2 >= p1) && (p2 <= p_ + s_));
        erase(static_cast<std::size_t>(p1 - p_), static_cast<std::size_t>(p2 - p1));
    }

    // A copy of `count` elements from `pos`.
    NoCrtDataVect sub(std::size_t pos, std::size_t count) const
    {
        NoCrtAssert(pos <= s_);
        NoCrtAssert(pos + count <= s_);
        NoCrtDataVect r;
        r.insert(0, p_ + pos, count);
        return r;
    }

    void resize(std::size_t n)
    {
        if (n > s_) {
            reserve(n);
            NoCrtFill(p_ + s_, T(), n - s_);
            s_ = n;
        } else {
            Shrink(n);
        }
    }

    void clear() { Shrink(0); }

private:
    void Shrink(std::size_t n)
    {
        s_ = n;
        if (p_)
            NoCrtWipe(p_ + s_, (c_ - s_) * sizeof(T));
    }

    void Grow(std::size_t cap)
    {
        T* q = static_cast<T*>(Alloc::Allocate(cap * sizeof(T)));
        if (s_)
            NoCrtMove(q, p_, s_);
        std::size_t size = s_;
        Release();
        p_ = q;
        s_ = size;
        c_ = cap;
        NoCrtWipe(p_ + s_, (c_ - s_) * sizeof(T));
    }

    void Release()
    {
        if (p_) {
            NoCrtWipe(p_, c_ * sizeof(T));
            Alloc::Release(p_, c_ * sizeof(T));
        }
        p_ = nullptr;
        s_ = c_ = 0;
    }

    T* p_ = nullptr;
    std::size_t s_ = 0;
    std::size_t c_ = 0;
};
