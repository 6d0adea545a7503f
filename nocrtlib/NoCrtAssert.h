#pragma once

// Checks an internal invariant. A false condition throws StrAssertionFailed
// whose text names the module, process, source file, line and the condition
// exactly as written here; the check never returns in that case.
#define NoCrtAssert(cond) \
    ((cond) ? (void)0 : NoCrtAssertFailed(__FILE__, __LINE__, #cond))

// The form for places where an exception is already travelling and a second
// one would end the process without a report: it reports and ends the process.
#define NoCrtAssertTerminate(expr) NoCrtAssertTerminateImpl(__FILE__, __LINE__, expr)

[[noreturn]] void NoCrtAssertFailed(const char* file, unsigned line, const char* expr);
[[noreturn]] void NoCrtAssertTerminateImpl(const char* file, unsigned line, const char* expr);

// The assertion text without throwing; exposed so the text can be checked.
// Returns false when the text could not be converted to wide text.
namespace NoCrtAssertDetail {
    const char* SourceName(const char* file, char* buf, unsigned size);
}
