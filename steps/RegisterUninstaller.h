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

private:
    WString keyPath;
    WString previous; // the values of the entry this one replaced
    bool written = false;
};
