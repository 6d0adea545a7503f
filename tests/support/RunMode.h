#pragma once
// Sets the mode of the run (the process-wide installer settings) for one test
// and puts the defaults back afterwards.
#include "../../steps/InstallSettings.h"

namespace Test {

struct RunMode {
    explicit RunMode(bool interactive, bool force = false, bool noRollback = false)
    {
        InstallSettings& s = TheInstallSettings();
        s = InstallSettings();
        s.interactive = interactive;
        s.force = force;
        s.noRollback = noRollback;
    }
    ~RunMode() { TheInstallSettings() = InstallSettings(); }
    RunMode(const RunMode&) = delete;
    RunMode& operator=(const RunMode&) = delete;
};

} // namespace Test
