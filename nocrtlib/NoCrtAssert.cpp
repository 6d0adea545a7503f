#include "NoCrtAssert.h"
#include "NoCrtConvert.h"
#include "WException.h"
#include <windows.h>

namespace {

const char kThrowFormat[] = "Assertion failed in module '%s', PID %u, source file '%s', line %u:\r\n%s";
const char kTerminateFormat[] =
    "\r\nAssertion failed in module '%s', PID %u, source file '%s', line %u:\r\n%s\r\n"
    "The asserting thread will be terminated.\r\n";

bool ProcessIsInteractive()
{
    USEROBJECTFLAGS flags = {};
    static_assert(sizeof(USEROBJECTFLAGS) == 12, "USEROBJECTFLAGS is 12 bytes");
    HWINSTA station = GetProcessWindowStation();
    return station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) &&
           (flags.dwFlags & WSF_VISIBLE);
}

HANDLE OpenStd(DWORD which, const char* device, DWORD access, bool& opened)
{
    opened = false;
    HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE)
        return h;
    h = CreateFileA(device, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    opened = true;
    return h;
}

} // namespace

// The build records sources as paths relative to the tree, as they were
// included ("tests/x/../../nocrtlib/NoCrtString.h"); reports name them the
// Windows way, resolved and without the extension ("nocrtlib\NoCrtString").
const char* NoCrtAssertDetail::SourceName(const char* file, char* buf, unsigned size)
{
    unsigned n = 0;
    const char* p = file;
    while (*p) {
        const char* end = p;
        while (*end && *end != '/' && *end != '\\')
            ++end;
        unsigned len = static_cast<unsigned>(end - p);
        if (len == 2 && p[0] == '.' && p[1] == '.' && n) {
            while (n && buf[n - 1] != '\\')
                --n; // drop the previous component
            if (n)
                --n;
        } else if (len && !(len == 1 && p[0] == '.')) {
            if (n && n + 1 < size)
                buf[n++] = '\\';
            for (unsigned i = 0; i < len && n + 1 < size; ++i)
                buf[n++] = p[i];
        }
        p = *end ? end + 1 : end;
    }
    buf[n] = 0;
    for (unsigned i = n; i-- > 0;) {
        if (buf[i] == '\\')
            break;
        if (buf[i] == '.') {
            buf[i] = 0;
            break;
        }
    }
    return buf;
}

AString NoCrtAssertionText(const char* format, const char* file, unsigned line, const char* expr)
{
    char module[300] = {};
    GetModuleFileNameA(nullptr, module, 299);
    char source[MAX_PATH];
    NoCrtAssertDetail::SourceName(file, source, sizeof(source));
    char text[1025] = {};
    wsprintfA(text, format, module, static_cast<unsigned>(GetCurrentProcessId()), source, line, expr);
    return AString(text);
}

void NoCrtAssertFailed(const char* file, unsigned line, const char* expr)
{
    AString text = NoCrtAssertionText(kThrowFormat, file, line, expr);
    WString wide;
    if (!NarrowToWide(CP_ACP, text.data(), static_cast<int>(text.size()), wide))
        throw StrAssertionFailed(
            L"Assertion failed. Additionally, converting assertion description to wide string also failed.");
    throw StrAssertionFailed(wide);
}

void NoCrtAssertTerminateImpl(const char* file, unsigned line, const char* expr)
{
    bool interactive = ProcessIsInteractive();
    if (!interactive) {
        // A service has nobody to read a report: give a debugger the chance to attach.
        for (int i = 0; i < 300 && !IsDebuggerPresent(); ++i)
            Sleep(100);
        if (IsDebuggerPresent())
            DebugBreak();
    }
    char module[300] = {};
    GetModuleFileNameA(nullptr, module, 299);
    char source[MAX_PATH];
    NoCrtAssertDetail::SourceName(file, source, sizeof(source));
    char text[1025] = {};
    wsprintfA(text, kTerminateFormat, module, static_cast<unsigned>(GetCurrentProcessId()), source, line, expr);
    OutputDebugStringA(text);

    bool outOpened = false;
    HANDLE out = OpenStd(STD_OUTPUT_HANDLE, "CONOUT$", GENERIC_WRITE, outOpened);
    if (out) {
        DWORD written = 0;
        WriteFile(out, text, lstrlenA(text), &written, nullptr);
        if (interactive) {
            static const char prompt[] = "\r\nPress any key to continue.\r\n";
            WriteFile(out, prompt, sizeof(prompt) - 1, &written, nullptr);
            bool inOpened = false;
            HANDLE in = OpenStd(STD_INPUT_HANDLE, "CONIN$", GENERIC_READ, inOpened);
            if (in) {
                char ch;
                DWORD read = 0;
                ReadFile(in, &ch, 1, &read, nullptr);
                if (inOpened)
                    CloseHandle(in);
            }
        }
        if (outOpened)
            CloseHandle(out);
    } else if (interactive) {
        MessageBoxA(nullptr, text, "Assertion failed", MB_ICONERROR);
    }
    ExitProcess(34821);
}
