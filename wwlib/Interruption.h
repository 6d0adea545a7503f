#pragma once
#include <windows.h>

namespace WWLib {

// Ctrl+C, Ctrl+Break, the console window being closed, log-off and shut-down
// do not end the run where it stands: they are noted, and the run stops at its
// next safe point (between steps, between files) and rolls back in order.
// For a closed console, a log-off or a shut-down Windows ends the process
// once the handler returns; the handler waits, for a few seconds at most, for
// the run to finish its rollback. What is left then is undone by the next run
// from the installation journal.
//
// A service's console gets every user's log-off: it is ignored there, as it
// must be for a process that runs in no user's session.
class InterruptionHandler {
public:
    InterruptionHandler();
    // The run has ended (rolled back or not): a waiting handler returns.
    ~InterruptionHandler();
    InterruptionHandler(const InterruptionHandler&) = delete;
    InterruptionHandler& operator=(const InterruptionHandler&) = delete;
};

// The exit code of an interrupted run.
constexpr int kExitInterrupted = 203;

// Whether an interruption was noted.
bool Interrupted();
// Notes an interruption the handler may not have seen yet: a child on the
// same console that ended with STATUS_CONTROL_C_EXIT was stopped by it.
void NoteInterruption();
// The run's outcome is decided (a restart it asks for itself): the
// shut-down that follows is no interruption. The handler still waits for the
// run to end.
void IgnoreFurtherInterruptions();
// A safe point: when an interruption was noted, says so in one line and ends
// the run with kExitInterrupted (SilentExit), which rolls the steps back.
void StopIfInterrupted();

} // namespace WWLib
