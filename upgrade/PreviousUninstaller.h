#pragma once
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtString.h"

class KeptInstallation;

// Removes the installed copy of the current site, if one is registered, by
// running an uninstaller: the one the installation registered (version 5.18
// and newer) or a temporary copy of this package's own. What it removes is
// kept first in `kept` (with whether the site's service ran), so that a run
// that does not complete puts it back. Returns false when nothing is
// registered, true when the run may go on; otherwise ends the run with 107
// (removal failed and not overridden) or 300 (restart needed).
bool UninstallExisting(KeptInstallation& kept, bool serviceRan);

// The pause after the previous uninstaller before the run goes on (3000 ms),
// for what that uninstaller started to finish. The tests of this library
// shorten it where the pause is not what they test.
void SetUninstallPause(unsigned long ms);

// Runs an uninstaller with the result channel (a 4-byte shared block and an
// event, both inherited) and returns its result: the exit code, or, when the
// exit code has bit 0x1, the value it wrote into the block. Throws
// InstallError when the channel cannot be made or the program not started.
unsigned long RunUninstallerWithResult(const WString& command);

// The files of the package copied to the temporary folder for one run.
struct TempPackageFiles {
    WString dir;         // a folder of this run's own in the temporary folder
    WString uninstaller; // mark 1
    NoCrtHandle held;    // the uninstaller, open without write sharing
};

// Writes the package files whose marks are in `selector` into a new folder
// with an administrators-only list in the temporary folder, as new files
// (under names with a random suffix when the plain names cannot be written),
// holds the uninstaller open so that it is not changed before it runs, and
// schedules the files and the folder for deletion at the next restart.
// Throws WStrException when no copy can be written.
void CopyPackageFilesToTemp(int selector, TempPackageFiles& files);

// True when version `a` is older than `b`, the parts compared as numbers
// ("5.9" before "5.18" before "10.0"; see WWLib::CompareVersions).
bool VersionBelow(const WString& a, const WString& b);

// Why the uninstall entry's own command must not be run: its program is not
// given by an absolute path, is not uninst.exe, or does not stand in the
// site's own folder (the entry's "InstallDir" where it has one). Empty when
// it may run.
WString RefusedUninstallerReason(const WString& site, const WString& command, const WString& entryDir);

// Why the program of an uninstall entry's command is not this product's own:
// its version resource does not name the maker and the product, or, where
// this installer is signed, its signature is not intact or its signer's
// subject is not this installer's signer's (a renewed certificate keeps the
// subject). Empty when it is the product's.
WString ForeignUninstallerReason(const WString& command);

// The error text of an uninstaller result, or empty when it means success.
WString UninstallerResultError(unsigned long result);
