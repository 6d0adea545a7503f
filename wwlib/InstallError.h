#pragma once
#include "../nocrtlib/WException.h"

// A failure of the installation that no step policy handled; the entry reports
// it and ends the run with the code for unexpected failures.
class InstallError : public WStrException {
public:
    explicit InstallError(const WString& msg) : WStrException(msg) {}
    explicit InstallError(const wchar_t* msg) : WStrException(msg) {}
};

// Throws InstallError "<call> failed: <the system's text for code>", the code
// taken by the caller right after the failing call.
[[noreturn]] void ThrowCallFailed(const wchar_t* call, unsigned long code);
