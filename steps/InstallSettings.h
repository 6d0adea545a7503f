#pragma once
#include "../nocrtlib/NoCrtString.h"

// What the command line decides for the whole run; the install steps read it.
struct InstallSettings {
    bool interactive = true;
    bool force = false;
    bool noRollback = false;
    bool acceptEULA = false;
    WString installDir;       // absolute, no trailing backslash
    WString uninstallParams;  // the uninstall parameter list, only ever grows
    WString uninstallerPath;  // "uninst.exe" in installDir
};

// What the command line hands to the server's own installation command.
struct ServerOptions {
    WString settingsFile; // absolute once parsed
    bool startService = false;
};

// The process-wide records, alive from start-up to exit.
InstallSettings& TheInstallSettings();
ServerOptions& TheServerOptions();
// The site being installed: "Quendal" or "Quendal-<name>", also the name of
// its Windows service. Set once the installation directory is known.
WString& TheSiteName();
