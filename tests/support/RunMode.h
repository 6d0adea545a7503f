#pragma once
// Sets the mode of the run (the process-wide installer settings) for one test
// and puts the defaults back afterwards.
#include "../../steps/InstallSettings.h"
#include "../../wwlib/SilentExit.h"

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

// The exit code a piece of the run ended the run with, or -1 when it went on.
template <class F>
int ExitCodeOf(F f)
{
    try {
        f();
    } catch (const SilentExit& e) {
        return e.Code();
    }
    return -1;
}

} // namespace Test
