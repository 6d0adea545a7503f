#include "SubWnd_RichView.h"

LRESULT SubWnd_RichView::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_SETFOCUS)
        return 0;
    LRESULT result = CallPrevious(hwnd, msg, wp, lp);
    // A dialog selects the whole text of a control that asks for it when the
    // control gets the focus, and the control then scrolls to the end: a
    // viewer never asks.
    if (msg == WM_GETDLGCODE)
        return result & ~static_cast<LRESULT>(DLGC_HASSETSEL);
    if (msg == WM_SETCURSOR) {
        LRESULT parent = SendMessageW(GetParent(hwnd), WM_SETCURSOR, wp, lp);
        HCURSOR current = GetCursor();
        if (!parent && current != LoadCursorW(nullptr, IDC_ARROW) && current != LoadCursorW(nullptr, IDC_HAND)) {
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            return 1;
        }
    }
    return result;
}
