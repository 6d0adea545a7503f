#include "Interruption.h"
#include "ConsoleOutput.h"
#include "SilentExit.h"

namespace WWLib {

namespace {

volatile LONG g_interrupted = 0;
volatile LONG g_ignoring = 0;
volatile LONG g_stopSaid = 0;
HANDLE g_finished = nullptr;

// Windows gives a handler five seconds after a console is closed, and about
// as long at a log-off or shut-down, before it ends the process.
const DWORD kRollbackGrace = 4500;

// Whether the process runs on the window station a user sees; a service's
// does not.
bool InteractiveStation() noexcept
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Called by Windows on a thread of its own: touches only the flag and the event.
BOOL WINAPI OnConsoleControl(DWORD type) noexcept
{
    const bool ignoring = InterlockedCompareExchange(&g_ignoring, 0, 0) != 0;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (!ignoring)
            InterlockedExchange(&g_interrupted, 1);
        return TRUE;
    case CTRL_LOGOFF_EVENT:
        if (!InteractiveStation())
            return TRUE; // someone else's log-off
        // fall through
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (!ignoring)
            InterlockedExchange(&g_interrupted, 1);
        if (g_finished)
            WaitForSingleObject(g_finished, kRollbackGrace);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

InterruptionHandler::InterruptionHandler()
{
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

InterruptionHandler::~InterruptionHandler()
{
    if (g_finished)
        SetEvent(g_finished);
}

bool Interrupted()
{
    return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0;
}

void NoteInterruption()
{
    if (InterlockedCompareExchange(&g_ignoring, 0, 0) == 0)
        InterlockedExchange(&g_interrupted, 1);
}

void IgnoreFurtherInterruptions()
{
    InterlockedExchange(&g_ignoring, 1);
}

void StopIfInterrupted()
{
    if (!Interrupted())
        return;
    if (InterlockedExchange(&g_stopSaid, 1) == 0)
        ConsoleLine(L"Installation interrupted, aborting");
    throw SilentExit(kExitInterrupted);
}

} // namespace WWLib
