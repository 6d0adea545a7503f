#pragma once
#include "NoCrtAssert.h"
#include <windows.h>
#include <exception>

// Base of objects shared through RefPtr. A fresh object is marked
// INIT_REFCOUNT until the first RefPtr takes it; the last release marks it
// DESTROY_REFCOUNT and deletes it. Destroying an object that is still shared
// is an assertion failure.
class RefCountable {
public:
    static constexpr LONG INIT_REFCOUNT = 0x60000000;
    static constexpr LONG DESTROY_REFCOUNT = 0x40000000;

    void AddRef()
    {
        if (m_refCount == INIT_REFCOUNT)
            m_refCount = 1;
        else
            InterlockedIncrement(&m_refCount);
    }

    void Release()
    {
        NoCrtAssert(m_refCount > 0 && m_refCount < INIT_REFCOUNT);
        // The only holder needs no interlocked operation.
        if (m_refCount == 1 || InterlockedDecrement(&m_refCount) == 0) {
            m_refCount = DESTROY_REFCOUNT;
            delete this;
        }
    }

    LONG RefCount() const { return m_refCount; }

protected:
    RefCountable() = default;
    RefCountable(const RefCountable&) : m_refCount(INIT_REFCOUNT) {}
    RefCountable& operator=(const RefCountable&) { return *this; }

    virtual ~RefCountable() noexcept(false)
    {
        if (!(m_refCount == DESTROY_REFCOUNT || m_refCount == INIT_REFCOUNT)) {
            // A second exception while one travels would end the process unreported.
            if (std::uncaught_exceptions())
                NoCrtAssertTerminate("m_refCount == DESTROY_REFCOUNT || m_refCount == INIT_REFCOUNT");
            NoCrtAssert(m_refCount == DESTROY_REFCOUNT || m_refCount == INIT_REFCOUNT);
        }
    }

private:
    volatile LONG m_refCount = INIT_REFCOUNT;
};

// A counted pointer to a RefCountable.
template <class T>
class RefPtr {
public:
    RefPtr() = default;
    RefPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    RefPtr(const RefPtr& o) : RefPtr(o.p_) {}
    RefPtr(RefPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~RefPtr()
    {
        if (p_)
            p_->Release();
    }
    RefPtr& operator=(RefPtr o) noexcept
    {
        T* t = p_;
        p_ = o.p_;
        o.p_ = t;
        return *this;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
