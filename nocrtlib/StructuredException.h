#pragma once
#include <windows.h>
#include <exception>

// A Windows structured exception (access violation, division by zero, ...)
// turned into an ordinary C++ exception. Not a WException: reported by `what`.
class StructuredException : public std::exception {
public:
    explicit StructuredException(unsigned long code) : code_(code) {}
    unsigned long Code() const { return code_; }
    const char* what() const noexcept override;

private:
    unsigned long code_;
};

#define QUENDAL_SE_CLASS(name, code) \
    class name : public StructuredException { \
    public: \
        name() : StructuredException(code) {} \
    };
QUENDAL_SE_CLASS(SE_GuardPage, 0x80000001)
QUENDAL_SE_CLASS(SE_DatatypeMisalignment, 0x80000002)
QUENDAL_SE_CLASS(SE_Breakpoint, 0x80000003)
QUENDAL_SE_CLASS(SE_SingleStep, 0x80000004)
QUENDAL_SE_CLASS(SE_AccessViolation, 0xC0000005)
QUENDAL_SE_CLASS(SE_InPageError, 0xC0000006)
QUENDAL_SE_CLASS(SE_InvalidHandle, 0xC0000008)
QUENDAL_SE_CLASS(SE_IllegalInstruction, 0xC000001D)
QUENDAL_SE_CLASS(SE_NoncontinuableException, 0xC0000025)
QUENDAL_SE_CLASS(SE_InvalidDisposition, 0xC0000026)
QUENDAL_SE_CLASS(SE_ArrayBoundsExceeded, 0xC000008C)
QUENDAL_SE_CLASS(SE_FltDenormalOperand, 0xC000008D)
QUENDAL_SE_CLASS(SE_FltDivideByZero, 0xC000008E)
QUENDAL_SE_CLASS(SE_FltInexactResult, 0xC000008F)
QUENDAL_SE_CLASS(SE_FltInvalidOperation, 0xC0000090)
QUENDAL_SE_CLASS(SE_FltOverflow, 0xC0000091)
QUENDAL_SE_CLASS(SE_FltStackCheck, 0xC0000092)
QUENDAL_SE_CLASS(SE_FltUnderflow, 0xC0000093)
QUENDAL_SE_CLASS(SE_IntDivideByZero, 0xC0000094)
QUENDAL_SE_CLASS(SE_IntOverflow, 0xC0000095)
QUENDAL_SE_CLASS(SE_PrivInstruction, 0xC0000096)
QUENDAL_SE_CLASS(SE_StackOverflow, 0xC00000FD)
#undef QUENDAL_SE_CLASS

// Throws, by value, the class for `code` (a plain StructuredException for a
// code without one of its own). Never returns.
[[noreturn]] void TranslateStructuredException(unsigned long code, EXCEPTION_POINTERS* pointers);

// Makes faults raised by this program's own code on the calling thread arrive
// as the exceptions above. The compiler's exception model does not call a
// per-thread translator, so a vectored handler redirects the faulting thread
// into a function that throws; the program is compiled with
// -fnon-call-exceptions so that destructors run on the way out. Faults in
// system DLLs, C++ exceptions and debugger notifications are left alone.
class StructuredExceptionTranslator {
public:
    StructuredExceptionTranslator();
    ~StructuredExceptionTranslator();
    StructuredExceptionTranslator(const StructuredExceptionTranslator&) = delete;
    StructuredExceptionTranslator& operator=(const StructuredExceptionTranslator&) = delete;

private:
    void* handler_;
};
