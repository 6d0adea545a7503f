#pragma once
#include "CmdLine.h"
#include "../steps/InstallSettings.h"
#include "../wwlib/LogFile.h"
#include <memory>

// The usage text, built once when the program starts.
const WString& UsageText();

// The setup program's option table: fills `settings` from the command line.
// No option at all means an interactive run. A help request throws
// SilentExit(200); a missing or contradicting directory and site throws
// CmdLine::Err. `-site=` alone is looked up among the installed sites.
void ParseInstallOptions(CmdLine& cmd, InstallSettings& settings, const wchar_t* productName);

// Reads -startService and -settings= (made absolute against the current directory).
void ReadServerOptions(CmdLine& cmd, ServerOptions& options);

// The log file that -log= names, opened (appending) and made the process's
// log, its first line written; null when the option is absent. Opened before
// the other options are read, so that a refused command line is in it too.
// Throws CmdLine::Err when the file cannot be opened.
std::unique_ptr<WWLib::LogFile> OpenLogOption(CmdLine& cmd);
