#pragma once
#include "CmdLine.h"
#include "../steps/InstallSettings.h"

// The usage text, built once when the program starts.
const WString& UsageText();

// The setup program's option table: fills `settings` from the command line.
// No option at all means an interactive run. A help request throws
// SilentExit(200); a missing or contradicting directory and site throws
// CmdLine::Err. `-site=` alone is looked up among the installed sites.
void ParseInstallOptions(CmdLine& cmd, InstallSettings& settings, const wchar_t* productName);

// Reads -startService and -settings= (made absolute against the current directory).
void ReadServerOptions(CmdLine& cmd, ServerOptions& options);
