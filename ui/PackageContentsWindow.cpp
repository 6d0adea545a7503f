#include "PackageContentsWindow.h"
#include "RichText.h"
#include "SubWnd_AnchorCtrl.h"
#include "SubWnd_RichView.h"
#include "UiBoundary.h"
#include "WindowPlacement.h"
#include <richedit.h>

#ifndef _WIN64
static_assert(sizeof(NONCLIENTMETRICSW) == 500, "NONCLIENTMETRICSW without the Vista border field");
#endif

namespace {

HWND g_window; // the open window; null while there is none

} // namespace

HWND PackageContentsWindow::Open(HWND owner, const std::vector<std::uint8_t>& dialogTemplate)
{
    if (g_window) {
        SetForegroundWindow(g_window);
        SetFocus(g_window);
        return g_window;
    }
    g_window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate.data()), owner,
                                          &DialogProc, 0);
    if (UiBoundary::HasPending()) {
        // A window that failed to initialise is not left half made.
        if (g_window)
            DestroyWindow(g_window);
        g_window = nullptr;
        UiBoundary::RethrowPending();
    }
    return g_window;
}

HWND PackageContentsWindow::Handle()
{
    return g_window;
}

void PackageContentsWindow::Closed()
{
    g_window = nullptr;
}

SIZE PackageContentsWindow::MinimumTrackSize(HWND window)
{
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof(ncm);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
    return {DluToPixelsX(150, window) + 2 * ncm.iBorderWidth + 6,
            DluToPixelsY(100, window) + ncm.iSmCaptionHeight + 2 * ncm.iBorderWidth + 7};
}

INT_PTR CALLBACK PackageContentsWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return UiBoundary::Run(INT_PTR(FALSE), [&] { return HandleMessage(hwnd, msg, wp, lp); });
}

INT_PTR PackageContentsWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_INITDIALOG: {
        RECT client;
        GetClientRect(hwnd, &client);
        CenterWindow(CenterOn::Cursor, hwnd);
        HWND text = CreateWindowExW(0, L"RichEdit20W", L"", 0x50200804, 0, 0, client.right, client.bottom, hwnd,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(text, WM_SETFONT, SendMessageW(hwnd, WM_GETFONT, 0, 0), TRUE);
        SendMessageW(text, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_INFOBK)));
        StreamRichText(LoadRtfResource(kDescriptionResource), text, TextFormat::Rich);
        AttachSubWnd(text, RefPtr<SubWnd>(new SubWnd_RichView));
        auto* anchors = new SubWnd_AnchorCtrl;
        RefPtr<SubWnd> layout(anchors);
        anchors->SetAnchor(text, AnchorRecord{0, 0, 0, 0, -1});
        AttachSubWnd(hwnd, layout);
        return TRUE;
    }
    case WM_GETMINMAXINFO: {
        SIZE min = MinimumTrackSize(hwnd);
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize.x = min.cx;
        info->ptMinTrackSize.y = min.cy;
        return TRUE;
    }
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_CLOSE) {
            DestroyWindow(hwnd);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        SendMessageW(GetWindow(hwnd, GW_OWNER), kClosedMessage, 0, 0);
        return 0;
    }
    return FALSE;
}
