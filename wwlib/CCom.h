#pragma once
#include "BaseException.h"
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace WWLib {

// What the holders need to know of an interface: its name and identifiers.
template <class I>
struct ComTraits;

template <>
struct ComTraits<IShellLinkW> {
    static const wchar_t* Name() { return L"IShellLinkW"; }
    static const IID& Iid() { return IID_IShellLinkW; }
    static const CLSID& Clsid() { return CLSID_ShellLink; }
};

template <>
struct ComTraits<IPersistFile> {
    static const wchar_t* Name() { return L"IPersistFile"; }
    static const IID& Iid() { return IID_IPersistFile; }
};

// Initialises COM on the calling thread as a single-threaded apartment for
// the holder's lifetime. A failure is recorded ("CoInitializeEx()"), not thrown;
// S_FALSE (already initialised) counts as success and is undone once.
template <int Throw>
class CComInit;

template <>
class CComInit<0> : public CComBase<0> {
public:
    CComInit() { SetResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), L"CoInitializeEx()"); }
    ~CComInit() override
    {
        if (Succeeded())
            CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;
};

// Owns one interface pointer (null when none); releases it at destruction.
template <class I, int Throw>
class CComCls : public CComBase<Throw> {
public:
    ~CComCls() override
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }
    CComCls(const CComCls&) = delete;
    CComCls& operator=(const CComCls&) = delete;

    I* Get() const { return p_; }
    const WString& InterfaceName() const
    {
        if (name_.empty())
            name_ = ComTraits<I>::Name();
        return name_;
    }

protected:
    CComCls() = default;
    I* p_ = nullptr;

private:
    mutable WString name_;
};

// Creates the interface's object in process; a failure throws ComException
// named "CoCreateInstance(<interface>)".
template <class I>
class CComClsT : public CComCls<I, 1> {
public:
    CComClsT()
    {
        void* p = nullptr;
        HRESULT hr = CoCreateInstance(ComTraits<I>::Clsid(), nullptr, CLSCTX_INPROC_SERVER, ComTraits<I>::Iid(), &p);
        this->p_ = SUCCEEDED(hr) ? static_cast<I*>(p) : nullptr;
        if (!this->SetResult(hr, (L"CoCreateInstance(" + this->InterfaceName() + L")").c_str()))
            throw ComException(*this);
    }
};

// Asks another holder's object for this interface. A failure is recorded
// ("<source>::QueryInterface(<interface>)") and leaves the pointer null.
template <class I>
class CComClsN : public CComCls<I, 0> {
public:
    template <class S, int F>
    explicit CComClsN(const CComCls<S, F>& source)
    {
        void* p = nullptr;
        HRESULT hr = source.Get() ? source.Get()->QueryInterface(ComTraits<I>::Iid(), &p) : E_POINTER;
        this->p_ = SUCCEEDED(hr) ? static_cast<I*>(p) : nullptr;
        this->SetResult(hr, (source.InterfaceName() + L"::QueryInterface(" + this->InterfaceName() + L")").c_str());
    }
};

} // namespace WWLib
