#include "StructuredException.h"

namespace {

struct SeName {
    unsigned long code;
    const char* name;
};

const SeName kNames[] = {
    {0x80000001, "EXCEPTION_GUARD_PAGE"},
    {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0x80000004, "EXCEPTION_SINGLE_STEP"},
    {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC0000008, "EXCEPTION_INVALID_HANDLE"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
};

// Codes that are never translated even when raised inside the image:
// C++ exceptions of this and other compilers, and debugger notifications.
bool IsForeignCode(DWORD code)
{
    switch (code) {
    case 0x20474343: // GCC throw
    case 0x21474343: // GCC unwind
    case 0x22474343: // GCC foreign unwind
    case 0xE06D7363: // MSVC throw
    case 0x406D1388: // thread naming
    case DBG_PRINTEXCEPTION_C:
    case 0x4001000A: // DBG_PRINTEXCEPTION_WIDE_C
    case DBG_CONTROL_C:
    case 0x40010008: // DBG_CONTROL_BREAK
        return true;
    default:
        return (code & 0xC0000000) == 0x40000000; // informational
    }
}

DWORD g_mainThread;
DWORD g_pendingCode;

bool InsideOwnImage(const void* address)
{
    auto base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    auto p = static_cast<const BYTE*>(address);
    return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

} // namespace

// Entered instead of the faulting instruction, as if that instruction had
// called it. A fault can happen where the stack is not aligned for a call (in
// a leaf function), so a trampoline that keeps a frame pointer, which the
// unwinder follows, realigns the stack before the C++ part throws.
extern "C" [[noreturn]] void QuendalThrowPendingSE()
{
    TranslateStructuredException(g_pendingCode, nullptr);
}

extern "C" void QuendalThrowTrampoline();

#ifdef _WIN64
asm(R"(
    .text
    .globl QuendalThrowTrampoline
    .def QuendalThrowTrampoline; .scl 2; .type 32; .endef
    .seh_proc QuendalThrowTrampoline
QuendalThrowTrampoline:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call QuendalThrowPendingSE
    int3
    .seh_endproc
)");
#else
asm(R"(
    .text
    .globl _QuendalThrowTrampoline
    .def _QuendalThrowTrampoline; .scl 2; .type 32; .endef
_QuendalThrowTrampoline:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    andl $-16, %esp
    call _QuendalThrowPendingSE
    int3
    .cfi_endproc
)");
#endif

namespace {

LONG CALLBACK Redirect(EXCEPTION_POINTERS* info)
{
    EXCEPTION_RECORD* rec = info->ExceptionRecord;
    if (GetCurrentThreadId() != g_mainThread || IsForeignCode(rec->ExceptionCode) ||
        (rec->ExceptionFlags & EXCEPTION_NONCONTINUABLE) || !InsideOwnImage(rec->ExceptionAddress))
        return EXCEPTION_CONTINUE_SEARCH;
    g_pendingCode = rec->ExceptionCode;
    CONTEXT* ctx = info->ContextRecord;
    // The pushed return address lies one byte into the faulting instruction, so
    // that the unwinder, which looks one byte before a return address, finds
    // the faulting instruction's own try region and unwind state.
#ifdef _WIN64
    ctx->Rsp -= sizeof(DWORD64);
    *reinterpret_cast<DWORD64*>(ctx->Rsp) = ctx->Rip + 1;
    ctx->Rip = reinterpret_cast<DWORD64>(&QuendalThrowTrampoline);
#else
    ctx->Esp -= sizeof(DWORD);
    *reinterpret_cast<DWORD*>(ctx->Esp) = ctx->Eip + 1;
    ctx->Eip = reinterpret_cast<DWORD>(&QuendalThrowTrampoline);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

const char* StructuredException::what() const noexcept
{
    for (const SeName& n : kNames)
        if (n.code == code_)
            return n.name;
    return "unrecognized structured exception";
}

void TranslateStructuredException(unsigned long code, EXCEPTION_POINTERS*)
{
    switch (code) {
    case 0x80000001: throw SE_GuardPage();
    case 0x80000002: throw SE_DatatypeMisalignment();
    case 0x80000003: throw SE_Breakpoint();
    case 0x80000004: throw SE_SingleStep();
    case 0xC0000005: throw SE_AccessViolation();
    case 0xC0000006: throw SE_InPageError();
    case 0xC0000008: throw SE_InvalidHandle();
    case 0xC000001D: throw SE_IllegalInstruction();
    case 0xC0000025: throw SE_NoncontinuableException();
    case 0xC0000026: throw SE_InvalidDisposition();
    case 0xC000008C: throw SE_ArrayBoundsExceeded();
    case 0xC000008D: throw SE_FltDenormalOperand();
    case 0xC000008E: throw SE_FltDivideByZero();
    case 0xC000008F: throw SE_FltInexactResult();
    case 0xC0000090: throw SE_FltInvalidOperation();
    case 0xC0000091: throw SE_FltOverflow();
    case 0xC0000092: throw SE_FltStackCheck();
    case 0xC0000093: throw SE_FltUnderflow();
    case 0xC0000094: throw SE_IntDivideByZero();
    case 0xC0000095: throw SE_IntOverflow();
    case 0xC0000096: throw SE_PrivInstruction();
    case 0xC00000FD: throw SE_StackOverflow();
    default: throw StructuredException(code);
    }
}

namespace {

// Vectored handlers came with Windows XP; the program still starts on Windows
// 2000 (to tell that it is too old), so they are bound at run time. Without
// them faults are not translated.
FARPROC Kernel32Proc(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

} // namespace

StructuredExceptionTranslator::StructuredExceptionTranslator() : handler_(nullptr)
{
    g_mainThread = GetCurrentThreadId();
    using AddFn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    if (auto add = reinterpret_cast<AddFn>(reinterpret_cast<void*>(Kernel32Proc("AddVectoredExceptionHandler"))))
        handler_ = add(1, &Redirect);
}

StructuredExceptionTranslator::~StructuredExceptionTranslator()
{
    using RemoveFn = ULONG(WINAPI*)(PVOID);
    if (handler_)
        if (auto remove = reinterpret_cast<RemoveFn>(reinterpret_cast<void*>(Kernel32Proc("RemoveVectoredExceptionHandler"))))
            remove(handler_);
}
