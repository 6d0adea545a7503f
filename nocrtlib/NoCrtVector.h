#pragma once
#include "datavect.h"
#include <utility>

// A vector of individually allocated elements that it owns: destroying the
// vector deletes each element in index order.
template <class T>
class NoCrtVector {
public:
    class iterator {
    public:
        iterator() = default;
        iterator(NoCrtVector* v, std::size_t i) : ptrs_(v), i_(i) {}
        T& operator*() const
        {
            NoCrtAssert(ptrs_);
            return (*ptrs_)[i_];
        }
        T* operator->() const { return &**this; }
        iterator& operator++()
        {
            NoCrtAssert(ptrs_);
            ++i_;
            return *this;
        }
        bool operator==(const iterator& x) const
        {
            NoCrtAssert(ptrs_ == x.ptrs_);
            return i_ == x.i_;
        }
        bool operator!=(const iterator& x) const { return !(*this == x); }
        std::size_t index() const { return i_; }

    private:
        NoCrtVector* ptrs_ = nullptr;
        std::size_t i_ = 0;
    };

    NoCrtVector() = default;
    NoCrtVector(const NoCrtVector&) = delete;
    NoCrtVector& operator=(const NoCrtVector&) = delete;
    NoCrtVector(NoCrtVector&& o) noexcept : ptrs_(std::move(o.ptrs_)) {}
    NoCrtVector& operator=(NoCrtVector&& o) noexcept
    {
        if (this != &o) {
            clear();
            ptrs_ = std::move(o.ptrs_);
        }
        return *this;
    }
    ~NoCrtVector() { clear(); }

    std::size_t size() const { return ptrs_.size(); }
    bool empty() const { return ptrs_.empty(); }
    void reserve(std::size_t n) { ptrs_.reserve(n); }

    // Takes ownership of `item`; it is deleted if it cannot be stored.
    T& adopt(T* item)
    {
        try {
            ptrs_.push_back(item);
        } catch (...) {
            delete item;
            throw;
        }
        return *item;
    }
    template <class... Args>
    T& emplace_back(Args&&... args)
    {
        return adopt(new T(std::forward<Args>(args)...));
    }
    void push_back(const T& v) { emplace_back(v); }

    void pop_back()
    {
        std::size_t last = ptrs_.size() - 1;
        delete ptrs_[last];
        ptrs_.erase(last, 1);
    }

    T& operator[](std::size_t i) { return *ptrs_[i]; }
    const T& operator[](std::size_t i) const { return *ptrs_[i]; }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, size()); }

    void clear()
    {
        for (std::size_t i = 0; i < ptrs_.size(); ++i) {
            delete ptrs_[i];
            ptrs_[i] = nullptr;
        }
        ptrs_.clear();
    }

private:
    NoCrtDataVect<T*> ptrs_;
};
