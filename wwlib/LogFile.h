#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

namespace WWLib {

// The run's log file (-log=FILE): what a deployment run as SYSTEM, with no
// console anyone reads, keeps of the run. Appended to, never truncated, so a
// second run after a restart (300) adds to the first run's log; UTF-8 with
// CR LF line ends, each line written with one WriteFile so that two processes
// appending to one log (the uninstaller and its copy) never tear a line.
class LogFile : NoCopy {
public:
    // Opens or creates the file. Throws SystemError "CreateFileW()".
    explicit LogFile(const WString& path);
    ~LogFile();

    // Writes the text (which may hold several lines) as it comes.
    void Write(const wchar_t* text, std::size_t len) noexcept;
    void Line(const WString& text) noexcept;

    // The first line of a run: the local time, the program and its build,
    // the user and the whole command line.
    void Started(const WString& program) noexcept;
    // The last line: the local time and the exit code.
    void Ended(unsigned long exitCode) noexcept;

    // "YYYY-MM-DD HH:MM:SS", local time.
    static WString Now();
    // DOMAIN\name of the process's user, or its SID's text form.
    static WString UserName();

private:
    HANDLE file_;
};

// The log that the console output is copied into for the rest of the run;
// null for none. The caller keeps it alive while it is set.
void SetProcessLog(LogFile* log) noexcept;
LogFile* ProcessLog() noexcept;

} // namespace WWLib
