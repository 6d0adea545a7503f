#pragma once
#include "../nocrtlib/NoCrtString.h"

// The name of the resume entry under the current user's Run key.
WString ResumeValueName(const WString& siteName);

// The command that repeats this run interactively, without a dialog, after
// the next logon: the program, -interactive -acceptEULA -installDir= and the
// options that change what is installed.
WString ResumeCommand(const WString& programPath);

// Windows must restart before the site can be reinstalled. Unattended: says
// so and ends with 300. Interactive: writes the resume entry, offers to
// restart Windows now, and ends with 300 either way. Never returns.
[[noreturn]] void RestartForReinstall();

// Deletes the resume entry of the current site; its absence is fine.
void DeleteResumeEntry();
