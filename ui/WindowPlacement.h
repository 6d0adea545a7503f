#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

// Placement helpers of the dialogs.

// MapDialogRect on a copy, except that components that were 0 stay 0 and
// negative ones stay negative (an unanchored edge stays unanchored).
RECT MapDialogRectKeepSigns(const RECT& dialogUnits, HWND dialog);
int DluToPixelsX(int dlus, HWND dialog);
int DluToPixelsY(int dlus, HWND dialog);

// Where CenterWindow centres a window.
enum class CenterOn {
    WorkArea = 0,       // the midpoint of the work area
    Cursor = 1,         // the cursor position
    Parent = 2,         // the parent's centre; the work area without a parent
    VisibleParent = 3,  // likewise, but only a parent that is shown and not minimised
    VisibleParentOrCursor = 4, // likewise, falling back to the cursor
};

// Centres the window around the point that `mode` names, kept inside the work
// area. False when a query fails; the window is then not moved.
bool CenterWindow(CenterOn mode, HWND hwnd);

// The control's font: its own, else its parent's, else DEFAULT_GUI_FONT.
HFONT GetCtrlFont(HWND hwnd);
void GetCtrlLogFont(HWND hwnd, LOGFONTW& font);

// The window's text. False when it cannot be read; `text` is then unchanged.
bool GetWindowTextString(HWND hwnd, WString& text);

int WindowWidth(HWND hwnd);
int WindowHeight(HWND hwnd);
