#include "SubWnd_HyperLink.h"
#include "GdiScopes.h"
#include "WindowPlacement.h"
#include <commctrl.h>
#include <shellapi.h>

#ifndef _WIN64
static_assert(sizeof(TOOLINFOW) == 48, "TOOLINFOW of comctl32 5.80 and later");
#endif

SubWnd_HyperLink::SubWnd_HyperLink()
    : hand_(LoadCursorW(nullptr, IDC_HAND)), arrow_(LoadCursorW(nullptr, IDC_ARROW))
{
}

SubWnd_HyperLink::SubWnd_HyperLink(const WString& target) : SubWnd_HyperLink()
{
    target_ = target;
    tooltipText_ = target;
}

void SubWnd_HyperLink::OnAttach(HWND hwnd)
{
    SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) | SS_NOTIFY);
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE));
    tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, instance, nullptr);
    SetWindowPos(tooltip_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = hwnd;
    ti.uId = 0;
    GetClientRect(hwnd, &ti.rect);
    WString text = tooltipText_;
    ti.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    tooltipCreated_ = true;
}

void SubWnd_HyperLink::OnClick(HWND hwnd)
{
    if (!target_.empty())
        ShellExecuteW(nullptr, L"open", target_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    else
        SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), 0), reinterpret_cast<LPARAM>(hwnd));
    if (!visited_) {
        visited_ = true;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
}

void SubWnd_HyperLink::ShowTooltip(bool active)
{
    if (tooltip_)
        SendMessageW(tooltip_, TTM_ACTIVATE, active, 0);
}

void SubWnd_HyperLink::SetHot(HWND hwnd, bool hot)
{
    if (hot != hot_) {
        hot_ = hot;
        InvalidateRect(hwnd, nullptr, FALSE);
    }
}

LRESULT SubWnd_HyperLink::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        focused_ = msg == WM_SETFOCUS;
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case WM_SETTEXT: {
        LRESULT result = CallPrevious(hwnd, msg, wp, lp);
        InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_SETCURSOR:
        if (SendMessageW(GetParent(hwnd), WM_SETCURSOR, wp, lp))
            return 1;
        SetCursor(hot_ && hand_ ? hand_ : arrow_);
        return 1;
    case WM_KEYDOWN:
        ShowTooltip(false);
        if (wp == VK_SPACE)
            OnClick(hwnd);
        return 0;
    case WM_KEYUP:
        ShowTooltip(false);
        return 0;
    case WM_MOUSEMOVE: {
        POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        SetHot(hwnd, PtInRect(&hit_, pt) != FALSE);
        if (hot_) {
            TRACKMOUSEEVENT tme = {};
            tme.cbSize = sizeof(tme);
            tme.dwFlags = TME_LEAVE;
            tme.hwndTrack = hwnd;
            tme.dwHoverTime = HOVER_DEFAULT;
            TrackMouseEvent(&tme);
            if (!tooltipSuppressed_ && tooltip_) {
                ShowTooltip(true);
                MSG m = {};
                m.hwnd = hwnd;
                m.message = WM_MOUSEMOVE;
                m.wParam = wp;
                m.lParam = lp;
                m.time = static_cast<DWORD>(GetMessageTime());
                GetCursorPos(&m.pt);
                SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
            }
        } else {
            tooltipSuppressed_ = false;
            ShowTooltip(false);
        }
        break;
    }
    case WM_LBUTTONDOWN: {
        tooltipSuppressed_ = true;
        ShowTooltip(false);
        if (!hot_) {
            POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            SetHot(hwnd, PtInRect(&hit_, pt) != FALSE);
            if (!hot_)
                return 0;
        }
        pressed_ = true;
        SetCapture(hwnd);
        return 0;
    }
    case WM_LBUTTONUP:
        tooltipSuppressed_ = true;
        ShowTooltip(false);
        if (pressed_) {
            ReleaseCapture();
            pressed_ = false;
            if (hot_)
                OnClick(hwnd);
        }
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        tooltipSuppressed_ = true;
        ShowTooltip(false);
        break;
    case WM_MOUSELEAVE:
        ShowTooltip(false);
        tooltipSuppressed_ = false;
        hot_ = false;
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
    }
    return CallPrevious(hwnd, msg, wp, lp);
}

void SubWnd_HyperLink::Paint(HWND hwnd)
{
    PaintScope paint(hwnd);
    HDC dc = paint.Dc();
    if (!dc)
        return;
    const bool enabled = IsWindowEnabled(hwnd) != FALSE;
    RECT client;
    GetClientRect(hwnd, &client);
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
    if (brush)
        FillRect(dc, &client, brush);

    LOGFONTW lf;
    GetCtrlLogFont(hwnd, lf);
    lf.lfUnderline = enabled;
    GdiObject<HFONT> font(CreateFontIndirectW(&lf));
    SelectScope selected(dc, font.Get());

    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    // The static control's own bits: SS_CENTER and SS_RIGHT have the values
    // of DT_CENTER and DT_RIGHT; SS_SIMPLE and SS_LEFTNOWORDWRAP never wrap.
    UINT format;
    const bool simple = (style & SS_SIMPLE) == SS_SIMPLE;
    const bool noWrap = !simple && (style & SS_LEFTNOWORDWRAP) == SS_LEFTNOWORDWRAP;
    if (simple)
        format = DT_NOCLIP;
    else if (noWrap)
        format = DT_LEFT;
    else
        format = static_cast<UINT>(style & (SS_CENTER | SS_RIGHT));
    const bool simpleOrNoWrap = simple || noWrap;
    if (style & SS_CENTERIMAGE)
        format |= DT_VCENTER | DT_SINGLELINE;
    else if (!simpleOrNoWrap)
        format |= DT_WORDBREAK;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;

    WString text;
    GetWindowTextString(hwnd, text);
    RECT measured = client;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, (format & ~(DT_CENTER | DT_RIGHT)) | DT_CALCRECT);
    RECT draw = client;
    if (measured.right < client.right) {
        if (format & DT_RIGHT)
            draw.right -= 1;
        else if (!(format & DT_CENTER))
            draw.left += 1;
    }

    SetBkMode(dc, TRANSPARENT);
    if (enabled) {
        SetTextColor(dc, hot_ ? hotColour_ : visited_ ? visitedColour_ : normalColour_);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &draw, format);
    } else {
        RECT raised = draw;
        OffsetRect(&raised, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &raised, format);
        SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &draw, format);
    }

    const LONG w = measured.right - measured.left;
    hit_ = measured;
    if (style & SS_CENTERIMAGE) {
        TEXTMETRICW tm = {};
        GetTextMetricsW(dc, &tm);
        hit_.top = hit_.bottom - tm.tmHeight;
    }
    if (format & DT_RIGHT) {
        hit_.left = draw.right - w - 1;
        hit_.right = client.right;
    } else if (format & DT_CENTER) {
        const LONG c = (client.right - w) / 2 - 1;
        hit_.left = c;
        hit_.right = c + w + 2;
    } else {
        hit_.left = client.left;
        hit_.right = draw.left + w + 1;
    }
    IntersectRect(&hit_, &hit_, &client);

    if (focused_ && enabled) {
        static const WORD dots[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
        GdiObject<HBITMAP> bitmap(CreateBitmap(8, 8, 1, 1, dots));
        GdiObject<HBRUSH> pattern(CreatePatternBrush(bitmap.Get()));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        RECT frame = {hit_.left, client.top, hit_.right, client.bottom};
        FrameRect(dc, &frame, pattern.Get());
    }
}
