#pragma once
#include "../nocrtlib/CallbackBoundary.h"
#include <windows.h>

// Window, dialog and subclass procedures of the user interface are called by
// user32 and comctl32: their exceptions wait here (docs/callbacks.md). A
// failure also ends the modal dialog in progress, so that the code that
// started it rethrows once DialogBoxParamW has returned.
class UiBoundary {
public:
    // Runs a procedure's body; on any exception keeps it, ends the modal
    // dialog and returns `onFailure`.
    template <class R, class F>
    static R Run(R onFailure, F&& body) noexcept
    {
        R result = Pending().Run(onFailure, static_cast<F&&>(body));
        if (Pending().Failed())
            EndModalDialog();
        return result;
    }

    // The dialog whose modal loop a failure ends; null when there is none.
    static void SetModalDialog(HWND dialog) noexcept;
    // Rethrows what a procedure kept, if anything.
    static void RethrowPending() { Pending().Rethrow(); }
    static bool HasPending() { return Pending().Failed(); }

private:
    static CallbackBoundary& Pending() noexcept;
    static void EndModalDialog() noexcept;
};
