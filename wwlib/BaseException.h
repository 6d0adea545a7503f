#pragma once
#include "CBase.h"
#include "../nocrtlib/WException.h"

namespace WWLib {

// Thrown by the wrappers; the message is the wrapper's text.
class BaseException : public WStrException {
public:
    explicit BaseException(const WString& msg) : WStrException(msg) {}
};

// Built from a holder: the message is its failure text (its success text if it
// has not failed), with the operation name, result and error text copied.
template <class T>
class BaseExceptionEx : public BaseException {
public:
    template <int Throw>
    explicit BaseExceptionEx(const CBase<T, Throw>& holder)
        : BaseException(TextOf(holder)), value_(holder.Value())
    {
        WView n = holder.Name();
        name_.assign(n.p, n.len);
        WView e = holder.ErrorText();
        errorText_.assign(e.p, e.len);
    }
    const WString& OperationName() const { return name_; }
    T Result() const { return value_; }
    const WString& ErrorText() const { return errorText_; }

private:
    template <int Throw>
    static WString TextOf(const CBase<T, Throw>& holder)
    {
        WView v = holder.Failed() ? holder.FailureText() : holder.SuccessText();
        return WString(v.p, v.len);
    }

    WString name_;
    T value_;
    WString errorText_;
};

class ComException : public BaseExceptionEx<long> {
public:
    using BaseExceptionEx<long>::BaseExceptionEx;
};

class RegException : public BaseExceptionEx<unsigned long> {
public:
    using BaseExceptionEx<unsigned long>::BaseExceptionEx;
};

} // namespace WWLib
