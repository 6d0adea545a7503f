#pragma once
#include "../nocrtlib/NoCrtString.h"
#include "../wwlib/SiteScope.h"
#include <windows.h>

// The folders the installation writes into. Each asks the shell first (when
// its version has the special-folder function; a missing folder is created)
// and falls back to the registry values older systems keep. Each may be empty,
// except the Programs folder: it falls back to the all-users one, and throws
// InstallError when neither is an absolute path (the Start-menu folder would
// otherwise be made relative to the current directory).
WString GetProgramFilesDir();
WString GetProgramsDir();
WString GetCommonProgramsDir();
WString GetCommonAdminToolsDir();
WString GetCommonAppDataDir();

// The Programs folder that the site's Start-menu folder goes into: the
// all-users one for a run as LocalSystem (a deployment tool's), whose own
// Programs folder, in the system profile, no user ever sees; the running
// user's otherwise. Throws as GetProgramsDir does.
WString GetStartMenuProgramsDir();
// The same decision for the token user `user`.
WString StartMenuProgramsDirFor(PSID user);

// The places of a site in the installer's canonical path form: its folder,
// its Start-menu folders (the user's and the all users': the run that made
// them may have been LocalSystem's and this one an administrator's, or the
// other way round) and its Administrative Tools shortcut. A place that cannot
// be had is empty.
SiteScope::Places<WString> SitePlacesOf(const WString& site, const WString& installDir);
