#pragma once
#include "../nocrtlib/WException.h"

// A Windows call that failed outside a wrapper: the function's name with its
// parentheses (may be empty) and the error code, as a rule GetLastError()
// taken right after the call.
class SystemError : public WException {
public:
    SystemError(const WString& function, unsigned long code) : function_(function), code_(code) {}
    // "<function> failed: Windows error <code>: <text>".
    WView Description() const override;
    // "The system function <function> failed with the following error: ...".
    WView LongDescription() const;
    const WString& Function() const { return function_; }
    unsigned long Code() const { return code_; }

private:
    WString function_;
    unsigned long code_;
    mutable WString short_;
    mutable WString long_;
};

// Throws SystemError for `function` with the calling thread's last error.
[[noreturn]] void ThrowLastError(const wchar_t* function);
