#include "SubWnd_AnchorCtrl.h"
#include <iterator>

namespace {

// False when the entry has no anchored edge and must be dropped.
bool Place(HWND parent, HWND child, const AnchorRecord& a, int width, int height)
{
    if (a.left < 0 && a.top < 0 && a.right < 0 && a.bottom < 0)
        return false;
    RECT wr;
    if (!child || !IsWindow(child) || !GetWindowRect(child, &wr))
        return true;
    POINT corners[2] = {{wr.left, wr.top}, {wr.right, wr.bottom}};
    MapWindowPoints(nullptr, parent, corners, 2);
    const int x1 = corners[0].x, y1 = corners[0].y, x2 = corners[1].x, y2 = corners[1].y;
    int x = x1, r = x2, y = y1, b = y2;
    if (a.left >= 0) {
        x = a.left;
        if (a.right < 0)
            r = x2 + a.left - x1;
    }
    if (a.top >= 0) {
        y = a.top;
        if (a.bottom < 0)
            b = y2 + a.top - y1;
    }
    if (a.right >= 0) {
        r = width - a.right;
        if (a.left < 0)
            x = r + x1 - x2;
    }
    if (a.bottom >= 0) {
        b = height - a.bottom;
        if (a.top < 0)
            y = b + y1 - y2;
    }
    MoveWindow(child, x, y, r - x, b - y, TRUE);
    if (a.invalidate >= 0)
        InvalidateRect(child, nullptr, a.invalidate > 0);
    return true;
}

} // namespace

void SubWnd_AnchorCtrl::ApplyAnchors(HWND parent, int width, int height)
{
    for (auto it = byHandle_.begin(); it != byHandle_.end();)
        it = Place(parent, it->first, it->second, width, height) ? std::next(it) : byHandle_.erase(it);
    for (auto it = byId_.begin(); it != byId_.end();)
        it = Place(parent, GetDlgItem(parent, it->first), it->second, width, height) ? std::next(it) : byId_.erase(it);
}

void SubWnd_AnchorCtrl::ApplyAnchors(HWND parent)
{
    RECT client = {};
    GetClientRect(parent, &client);
    ApplyAnchors(parent, client.right, client.bottom);
}

LRESULT SubWnd_AnchorCtrl::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    LRESULT result = CallPrevious(hwnd, msg, wp, lp);
    if (msg == WM_SIZE && wp != SIZE_MINIMIZED)
        ApplyAnchors(hwnd, LOWORD(lp), HIWORD(lp));
    return result;
}
