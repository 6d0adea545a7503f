#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Writes the site's entry in the system's list of uninstallable programs,
// replacing any older entry whole, with the uninstall parameter list that
// tells the uninstaller what to remove. The last step an installation builds.
// A failure goes to the step policy (113).
//
// Beside the values earlier uninstallers read, the entry carries those that
// Windows' program list and deployment tools look for: DisplayVersion,
// Publisher, InstallLocation, QuietUninstallString, InstallDate (YYYYMMDD,
// local time), EstimatedSize (KB, when given), NoModify, NoRepair and
// URLInfoAbout.
class RegisterUninstaller : public OperationWithRollback {
public:
    RegisterUninstaller(const WString& keyName, const WString& displayName, const WString& productName,
                        const WString& version, unsigned long estimatedSizeKb = 0);
    ~RegisterUninstaller();

    const WString& KeyPath() const { return keyPath; }
    // Deletes the entry's key (a path under HKEY_LOCAL_MACHINE), saying so,
    // and writes back the values of an entry it replaced (`previous`, as
    // SavedValues gives them). With `ownValuesOnly` (a journal's record,
    // read back from the disk) only the values this program writes come
    // back, with their types. Returns whether that worked. Never throws.
    static bool Undo(const WString& keyPath, const WString& previous = WString(), bool ownValuesOnly = false) noexcept;

    // The values of a key (not its subkeys: an entry keeps none) as one text, to be written back
    // by Undo; empty when there is no such key.
    static WString SavedValues(const WString& keyPath);

private:
    WString keyPath;
    WString previous; // the values of the entry this one replaced
    bool written = false;
};
