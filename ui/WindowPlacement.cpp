#include "WindowPlacement.h"

#ifndef _WIN64
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW");
#endif

RECT MapDialogRectKeepSigns(const RECT& dialogUnits, HWND dialog)
{
    RECT mapped = dialogUnits;
    MapDialogRect(dialog, &mapped);
    if (!dialogUnits.left)
        mapped.left = 0;
    if (!dialogUnits.top)
        mapped.top = 0;
    if (!dialogUnits.right)
        mapped.right = 0;
    if (!dialogUnits.bottom)
        mapped.bottom = 0;
    return mapped;
}

int DluToPixelsX(int dlus, HWND dialog)
{
    RECT r = {dlus, 0, 0, 0};
    return MapDialogRectKeepSigns(r, dialog).left;
}

int DluToPixelsY(int dlus, HWND dialog)
{
    RECT r = {0, dlus, 0, 0};
    return MapDialogRectKeepSigns(r, dialog).top;
}

namespace {

bool ParentCentre(HWND parent, POINT& centre)
{
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof(wp);
    if (!GetWindowPlacement(parent, &wp))
        return false;
    RECT r = wp.rcNormalPosition;
    if (wp.showCmd == SW_SHOWMAXIMIZED && !GetWindowRect(parent, &r))
        return false;
    centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    return true;
}

} // namespace

bool CenterWindow(CenterOn mode, HWND hwnd)
{
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        return false;
    if (mode == CenterOn::Parent || mode == CenterOn::VisibleParent || mode == CenterOn::VisibleParentOrCursor) {
        HWND parent = GetParent(hwnd);
        bool usable = parent && (mode == CenterOn::Parent || (IsWindowVisible(parent) && !IsIconic(parent)));
        if (!usable)
            mode = mode == CenterOn::VisibleParentOrCursor ? CenterOn::Cursor : CenterOn::WorkArea;
    }
    POINT p;
    if (mode == CenterOn::WorkArea) {
        p = {(work.left + work.right) / 2, (work.top + work.bottom) / 2};
    } else if (mode == CenterOn::Cursor) {
        if (!GetCursorPos(&p))
            return false;
    } else if (!ParentCentre(GetParent(hwnd), p)) {
        return false;
    }
    RECT wr;
    if (!GetWindowRect(hwnd, &wr))
        return false;
    const LONG w = wr.right - wr.left, h = wr.bottom - wr.top;
    LONG left = p.x - w / 2 > work.left ? p.x - w / 2 : work.left;
    LONG top = p.y - h / 2 > work.top ? p.y - h / 2 : work.top;
    // An overhang moves the window back, but never past the work area's
    // left or top edge: a window larger than the work area shows its caption.
    if (left + w > work.right)
        left = work.right - w > work.left ? work.right - w : work.left;
    if (top + h > work.bottom)
        top = work.bottom - h > work.top ? work.bottom - h : work.top;
    return SetWindowPos(hwnd, nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOOWNERZORDER) != FALSE;
}

HFONT GetCtrlFont(HWND hwnd)
{
    HFONT font = hwnd ? reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)) : nullptr;
    if (!font && hwnd) {
        HWND parent = GetParent(hwnd);
        if (parent)
            font = reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0));
    }
    return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void GetCtrlLogFont(HWND hwnd, LOGFONTW& font)
{
    GetObjectW(GetCtrlFont(hwnd), sizeof(font), &font);
}

bool GetWindowTextString(HWND hwnd, WString& text)
{
    SetLastError(0);
    LRESULT len = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    if (len <= 0) {
        if (GetLastError())
            return false;
        text.clear();
        return true;
    }
    WString buf;
    buf.resize(static_cast<std::size_t>(len) + 6);
    LRESULT got = SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(len + 4), reinterpret_cast<LPARAM>(buf.buffer()));
    if (got <= 0)
        return false;
    text.assign(buf.c_str(), static_cast<std::size_t>(got));
    return true;
}

int WindowWidth(HWND hwnd)
{
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return r.right - r.left;
}

int WindowHeight(HWND hwnd)
{
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return r.bottom - r.top;
}
