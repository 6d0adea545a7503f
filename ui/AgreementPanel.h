#pragma once
#include <windows.h>

// The licence agreement inside the main dialog: the viewer and the checkbox
// by which the user accepts it.
constexpr int kAgreementViewerId = 1003;
constexpr int kAgreementCheckId = 1004;

// Enables the Install button (IDOK) exactly when the agreement box is
// checked, and gives the bold font to whichever of the two still needs the
// user: the box until it is checked, the button after. Returns whether the
// agreement is accepted.
bool UpdateAcceptState(HWND dialog, HFONT boldFont);
