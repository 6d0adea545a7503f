#pragma once
#include "ErrorText.h"
#include "../nocrtlib/NoCrtString.h"

namespace WWLib {

// The result holder every wrapper is built on. It starts succeeded; each
// wrapper operation runs only while it is, so a chain of operations stops at
// the first failure and keeps that failure's name and value. With Throw = 1 a
// failure throws the wrapper family's exception; with 0 the caller asks
// Failed() and the texts.
template <class T, int Throw>
class CBase {
public:
    virtual ~CBase() = default;
    virtual bool Succeeded() const = 0;
    virtual bool Failed() const { return !Succeeded(); }
    virtual WView Name() const { return name_.view(); }
    virtual T Value() const { return value_; }
    virtual WView ErrorText() const { return WView{L"", 0, true}; }
    virtual void CopyResult(const CBase& other)
    {
        WView n = other.Name();
        name_.assign(n.p, n.len);
        value_ = other.Value();
    }
    virtual WView Kind() const { return WView{L"", 0, true}; }
    virtual WString CodeText() const = 0;
    virtual WView SuccessText() const
    {
        successText_ = name_ + L" succeeded.";
        return successText_.view();
    }
    virtual WView FailureText() const
    {
        WView kind = Kind();
        WView error = ErrorText();
        failureText_ = name_;
        failureText_ += L" failed: ";
        if (kind.len) {
            failureText_.append(kind);
            failureText_ += L" error ";
        } else {
            failureText_ += L"error code ";
        }
        failureText_ += CodeText();
        if (error.len) {
            failureText_ += L": ";
            failureText_.append(error);
        } else {
            failureText_ += L".";
        }
        return failureText_.view();
    }

    // Records an operation's outcome. Returns true when it succeeded.
    bool SetResult(T value, const wchar_t* name)
    {
        value_ = value;
        name_ = name;
        return Succeeded();
    }

protected:
    CBase() = default;
    CBase(const CBase&) = default;
    CBase& operator=(const CBase&) = default;

private:
    T value_ = 0;
    WString name_;
    mutable WString successText_;
    mutable WString failureText_;
};

// A holder of Windows error codes.
template <int Throw>
class CWinApiBase : public CBase<unsigned long, Throw> {
public:
    bool Succeeded() const override { return this->Value() == 0; }
    WView ErrorText() const override
    {
        errorText_ = WindowsErrorText(this->Value());
        return errorText_.view();
    }
    WView Kind() const override { return WView{L"Windows", 7, true}; }
    WString CodeText() const override { return WindowsCodeText(this->Value()); }

private:
    mutable WString errorText_;
};

// A holder of COM results.
template <int Throw>
class CComBase : public CBase<long, Throw> {
public:
    bool Succeeded() const override { return this->Value() >= 0; }
    WView ErrorText() const override
    {
        errorText_ = ComResultText(this->Value());
        return errorText_.view();
    }
    WView Kind() const override { return WView{L"COM", 3, true}; }
    WString CodeText() const override { return Hex8Text(static_cast<unsigned long>(this->Value())); }

private:
    mutable WString errorText_;
};

} // namespace WWLib
