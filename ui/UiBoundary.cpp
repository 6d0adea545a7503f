#include "UiBoundary.h"

namespace {

// The whole user interface runs on the main thread.
HWND g_modalDialog;

} // namespace

CallbackBoundary& UiBoundary::Pending() noexcept
{
    static CallbackBoundary pending;
    return pending;
}

void UiBoundary::SetModalDialog(HWND dialog) noexcept
{
    g_modalDialog = dialog;
}

void UiBoundary::EndModalDialog() noexcept
{
    // Once: ending the dialog hides it, which sends it messages, and each
    // would end it again from inside the first ending, without end.
    HWND dialog = g_modalDialog;
    g_modalDialog = nullptr;
    if (dialog && IsWindow(dialog))
        EndDialog(dialog, -1);
}
