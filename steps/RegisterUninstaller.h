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
// Publisher, InstallLocation, QuietUninstallString, EstimatedSize (KB, when
// given), NoModify, NoRepair and URLInfoAbout.
class RegisterUninstaller : public OperationWithRollback {
public:
    RegisterUninstaller(const WString& keyName, const WString& displayName, const WString& productName,
                        const WString& version, unsigned long estimatedSizeKb = 0);
    ~RegisterUninstaller();

    const WString& KeyPath() const { return keyPath; }
    // Deletes the entry's key (a path under HKEY_LOCAL_MACHINE), saying so.
    // Never throws.
    static void Undo(const WString& keyPath) noexcept;

private:
    WString keyPath;
    bool written = false;
};
