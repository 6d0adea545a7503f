#pragma once
#include "NoCrtString.h"
#include <exception>

// Root of the program's own exceptions. `Description` is the wide text; `what`
// is that text in the ANSI code page, converted once and cached.
class WException : public virtual std::exception {
public:
    virtual WView Description() const = 0;
    const char* what() const noexcept override;
    ~WException() override = default;

private:
    mutable AString narrow_;
};

// An exception carrying one wide message, copied at construction.
class WStrException : public virtual WException {
public:
    explicit WStrException(const wchar_t* msg) : msg_(msg) {}
    WStrException(const wchar_t* msg, std::size_t len) : msg_(msg, len) {}
    explicit WStrException(const WString& msg) : msg_(msg) {}
    WView Description() const override { return msg_.view(); }
    const WString& Message() const { return msg_; }

private:
    WString msg_;
};

class N2WException : public WException {
public:
    WView Description() const override;
};

class W2NException : public WException {
public:
    WView Description() const override;
};

class InvalidInput : public virtual WException {};
class InvalidArgument : public virtual InvalidInput {};

class StrInvalidArgument : public virtual InvalidArgument, public virtual WStrException {
public:
    explicit StrInvalidArgument(const WString& msg) : WStrException(msg) {}
    WView Description() const override { return WStrException::Description(); }
};

class AssertionFailed : public virtual WException {};

class StrAssertionFailed : public virtual AssertionFailed, public virtual WStrException {
public:
    explicit StrAssertionFailed(const WString& msg) : WStrException(msg) {}
    WView Description() const override { return WStrException::Description(); }
};

// Composes the text a failed check carries; exposed for the terminating form
// and for tests, which compare it with what a check threw.
AString NoCrtAssertionText(const char* format, const char* file, unsigned line, const char* expr);
