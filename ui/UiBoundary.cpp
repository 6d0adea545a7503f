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
    if (g_modalDialog && IsWindow(g_modalDialog))
        EndDialog(g_modalDialog, -1);
}
