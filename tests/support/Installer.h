#pragma once
// The real installer run as a child, as the end-to-end scenarios run it, and
// what they read of its results.
#include "Machine.h"
#include <string>
#include <vector>

namespace Test {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The installer under test (QUENDAL_INSTALLER) with these arguments.
ChildResult Install(const std::wstring& args);
std::vector<std::wstring> LinesOf(const ChildResult& r);
bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line);
// The differences as one text, so a failed check shows them.
std::string Joined(const std::vector<std::wstring>& lines);
bool Exists(const std::wstring& path);

// The package programs' test hook (QUENDAL_FORCE_EXIT) for one scope.
struct ForcedExit {
    explicit ForcedExit(const wchar_t* rule) { SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", rule); }
    ~ForcedExit();
    ForcedExit(const ForcedExit&) = delete;
    ForcedExit& operator=(const ForcedExit&) = delete;
};

// Runs the installer with `args` and kills it once it has written a line
// that begins with `line` and, when `program` is given, that program of the
// package (hanging by `rule`) runs; then kills that program too, unless it
// is to be left running (as nobody ends it when a run dies for real).
void KillInstallerAt(const std::wstring& args, const wchar_t* rule, const std::wstring& line,
                     const wchar_t* program, bool leaveRunning = false);

// Runs the site's own uninstaller as its uninstall entry names it, unattended,
// and checks that it reports the removal done (0) with the entry gone.
void UninstallThroughEntry(const std::wstring& site);

void StartService(const wchar_t* name);

// Ctrl+C as a terminal gives it: Wine turns a Unix SIGINT into the console's
// CTRL_C_EVENT for the program's handlers (Wine's GenerateConsoleCtrlEvent
// fails here, see docs/testing.md). Goes to every process of this prefix
// whose command line names one of the programs (names separated by spaces).
// A Unix program started from Wine has no process handle to wait for: the
// programs' own end tells whether the signal came.
void PressCtrlC(const std::wstring& programs);

} // namespace Test
