#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>
#include <exception>

// The kinds of install step whose failures the warn/ask/abort policy handles.
enum class StepKind {
    SecuringDirectory,
    ExistingFile,
    Shortcut,
    AutoRun,
    ComServer,
    Service,
    UninstallerEntry,
};

// The kinds of undo whose failures the rollback failure report names.
enum class RollbackKind {
    File,
    Directory,
    Shortcut,
    AutoRun,
    ComServer,
    Service,
    UninstallerEntry,
    Security,  // an existing directory's access control not given back
    ServerData, // the folder the server's installation made
};

// The step failure policy. Interactive: a Yes/No question; Yes goes on, No
// prints the cancel line and ends the run with the step's code. Unattended
// with -force: the warning line, and the run goes on. Otherwise the abort line
// and the step's code. `subject` is the path, link or value name the step
// works on; `reason` why it failed. Returns only when the run is to go on.
void ReportStepFailure(StepKind kind, const WString& subject, const WString& reason);

// The failure of an undo: reported on the console (and in a box in an
// interactive run); for files, shortcuts and directories the removal is then
// scheduled for the next reboot. Returns whether it was. Never throws.
bool ReportRollbackFailure(RollbackKind kind, const WString& subject, const WString& reason) noexcept;

// One removal of a rollback: says `line`, removes `path` with `remove`
// (DeleteFileW, RemoveDirectoryW) and reports a failure as the rollback
// failure of `kind` (which schedules the path for the restart where the kind
// does). Returns whether the path is gone or goes at the restart. Never throws.
bool RemoveOnRollback(const WString& line, const WString& path, BOOL(WINAPI* remove)(LPCWSTR),
                      RollbackKind kind) noexcept;

// The text of an exception, as a step failure's reason.
WString ReasonOf(const std::exception& e);

// Prints one line on the console, as every step does.
void StepLine(const WString& text);

// Appends one parameter to the uninstall parameter list: a space, then
// "-name=value" in double quotes. Values are paths and registry paths, which
// hold no double quote, so nothing is escaped.
void AppendUninstallParam(const wchar_t* name, const WString& value);
// Appends " -feedback=yes", the one parameter written without quotes.
void AppendUninstallFeedback();
