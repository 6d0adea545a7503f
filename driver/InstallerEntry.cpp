#include "InstallerEntry.h"
#include "InstallOptions.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/StructuredException.h"
#include "../wwlib/ConsoleOutput.h"
#include "../wwlib/DllLoader.h"
#include "../wwlib/Interruption.h"
#include "../wwlib/NoCrtRandom.h"
#include "../wwlib/Product.h"
#include "../wwlib/SilentExit.h"
#include <iostream>
#include <memory>
#include <new>

using WWLib::ConsoleLine;

namespace {

const int kExitUnexpected = 150;
const int kExitHelp = 200;
const int kExitRestart = 300; // the run asked for a restart: decided before any shut-down it causes
const int kExitCmdLine = 201;

[[noreturn]] void ThrowBadAlloc()
{
    throw std::bad_alloc();
}

// A failure reported on the console and, in an interactive run, in a box.
void ReportFailure(const WString& text)
{
    ConsoleLine(text);
    if (TheInstallSettings().interactive) {
        // The options may have failed after choosing the dialog, before the
        // theming library was loaded: the box loads it by name.
        try {
            WWLib::LoadProcessUxtheme();
        } catch (...) {
        }
        MessageBoxW(nullptr, text.c_str(), L"Exception", MB_OK | MB_ICONERROR);
    }
}

WString Widen(const char* narrow)
{
    WString wide;
    if (NarrowToWide(CP_ACP, narrow, lstrlenA(narrow), wide))
        return wide;
    for (const char* p = narrow; *p; ++p)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return wide;
}

} // namespace

int InstallerEntry(void (*sequence)())
{
    // Before anything loads a library on this program's behalf.
    WWLib::RestrictDllSearch();
    StructuredExceptionTranslator translator;
    std::set_new_handler(&ThrowBadAlloc);
    WWLib::InstallConsoleOutput();
    int exitCode = 0;
    std::unique_ptr<NoCrtRandom> random;
    std::unique_ptr<WWLib::LogFile> log;
    // 200 and 201 are the installer's own answers to its command line only
    // while it reads it; later the same codes may be the server's, passed on.
    bool readingOptions = true;
    try {
        random.reset(new NoCrtRandom);
        CmdLine cmd(GetCommandLineW());
        log = OpenLogOption(cmd);
        ParseInstallOptions(cmd, TheInstallSettings(), Product::kName);
        // Only a run with windows loads the theming library, before its
        // first window: an unattended run has none to theme, and loading it
        // connects the process to the desktop (under Wine, a process that
        // starts the desktop's own first: about a fifth of a second a run).
        if (TheInstallSettings().interactive)
            WWLib::LoadProcessUxtheme();
        ReadServerOptions(cmd, TheServerOptions());
        cmd.CheckAllUsed();
        readingOptions = false;
        WWLib::InterruptionHandler interruption;
        sequence();
    } catch (const SilentExit& e) {
        exitCode = e.Code();
        if (readingOptions && (exitCode == kExitHelp || exitCode == kExitCmdLine))
            std::wcout << UsageText().c_str() << std::endl;
    } catch (const CmdLine::Err& e) {
        std::wcout << e.Message().c_str() << L"\n\n" << UsageText().c_str() << std::endl;
        exitCode = kExitCmdLine;
    } catch (const WStrException& e) {
        WView d = e.Description();
        ReportFailure(L"Exception caught: " + WString(d.p, d.len));
        exitCode = kExitUnexpected;
    } catch (const std::exception& e) {
        ReportFailure(L"std::exception caught: " + Widen(e.what()));
        exitCode = kExitUnexpected;
    } catch (...) {
        ReportFailure(L"Unrecognized exception caught");
        exitCode = kExitUnexpected;
    }
    // A step that failed because the interruption reached its program too
    // (the console's Ctrl+C goes to every process on it) was interrupted.
    if (exitCode != 0 && exitCode != kExitRestart && WWLib::Interrupted())
        exitCode = WWLib::kExitInterrupted;
    random.reset();
    if (log)
        log->Ended(static_cast<unsigned long>(exitCode));
    return exitCode;
}
