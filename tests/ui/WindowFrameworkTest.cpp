// The subclassing framework on real windows: layers, links, anchors,
// placement, and exceptions thrown inside them.
#include "../../nocrtlib/WException.h"
#include "../../ui/DlgTmpl.h"
#include "../../ui/SubWnd_AnchorCtrl.h"
#include "../../ui/SubWnd_HyperLink.h"
#include "../../ui/UiBoundary.h"
#include "../../ui/WindowPlacement.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<WPARAM> g_commands; // WM_COMMAND wParams the test parent received

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND)
        g_commands.push_back(wp);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// A top-level window of the test, removed with its children.
struct TestWindow {
    HWND hwnd;
    explicit TestWindow(int width = 400, int height = 300, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE)
    {
        static bool registered = false;
        if (!registered) {
            INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
            InitCommonControlsEx(&icc);
            WNDCLASSW wc = {};
            wc.lpfnWndProc = &ParentProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = L"QuendalUiTest";
            RegisterClassW(&wc);
            registered = true;
        }
        RECT r = {0, 0, width, height};
        AdjustWindowRect(&r, style, FALSE);
        hwnd = CreateWindowExW(0, L"QuendalUiTest", L"test", style, 50, 50, r.right - r.left, r.bottom - r.top,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(hwnd != nullptr);
        g_commands.clear();
    }
    ~TestWindow() { DestroyWindow(hwnd); }
    HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) const
    {
        HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        REQUIRE(c != nullptr);
        return c;
    }
};

// A layer that notes the order in which layers see a message.
struct Recorder : SubWnd {
    Recorder(int n, std::vector<int>* seen, int* alive) : n_(n), seen_(seen), alive_(alive) { ++*alive_; }
    ~Recorder() override { --*alive_; }
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_APP)
            seen_->push_back(n_);
        return CallPrevious(hwnd, msg, wp, lp);
    }
    int n_;
    std::vector<int>* seen_;
    int* alive_;
};

struct Thrower : SubWnd {
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_APP)
            throw WStrException(L"thrown by a layer");
        return CallPrevious(hwnd, msg, wp, lp);
    }
};

RECT ChildRect(HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

LPARAM At(LONG x, LONG y)
{
    return MAKELPARAM(x, y);
}

void Paint(HWND hwnd)
{
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// Whether any pixel of the window shows the colour.
bool Shows(HWND hwnd, COLORREF colour)
{
    HDC dc = GetDC(hwnd);
    RECT r;
    GetClientRect(hwnd, &r);
    bool found = false;
    for (LONG y = 0; y < r.bottom && !found; ++y)
        for (LONG x = 0; x < r.right && !found; ++x)
            found = GetPixel(dc, x, y) == colour;
    ReleaseDC(hwnd, dc);
    return found;
}

} // namespace

TEST_CASE("layers: ten stacked, the newest first, an eleventh refused; all released with the window")
{
    int alive = 0;
    std::vector<int> seen;
    {
        TestWindow w;
        HWND target = w.Child(L"STATIC", L"x", 0, 10, 10, 50, 20, 100);
        for (int n = 0; n < 10; ++n)
            CHECK(AttachSubWnd(target, RefPtr<SubWnd>(new Recorder(n, &seen, &alive))));
        SetLastError(0);
        CHECK_FALSE(AttachSubWnd(target, RefPtr<SubWnd>(new Recorder(10, &seen, &alive))));
        CHECK(GetLastError() == ERROR_OUT_OF_STRUCTURES);
        CHECK(alive == 10); // the refused one is gone already
        SendMessageW(target, WM_APP, 0, 0);
        CHECK(seen == std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
        CHECK(GetPropA(target, "KORVANE_SUBWND_9") != nullptr);
    }
    CHECK(alive == 0);
}

TEST_CASE("a layer's exception is carried out of the window procedure")
{
    TestWindow w;
    HWND target = w.Child(L"STATIC", L"x", 0, 10, 10, 50, 20, 100);
    AttachSubWnd(target, RefPtr<SubWnd>(new Thrower));
    CHECK(SendMessageW(target, WM_APP, 0, 0) == 0);
    REQUIRE(UiBoundary::HasPending());
    CHECK_THROWS_WITH_AS(UiBoundary::RethrowPending(), "thrown by a layer", WStrException);
    CHECK_FALSE(UiBoundary::HasPending());
}

namespace {

INT_PTR CALLBACK ThrowingDialogProc(HWND dlg, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        UiBoundary::SetModalDialog(dlg);
        HWND child = CreateWindowExW(0, L"STATIC", L"x", WS_CHILD, 0, 0, 10, 10, dlg, nullptr, nullptr, nullptr);
        AttachSubWnd(child, RefPtr<SubWnd>(new Thrower));
        PostMessageW(child, WM_APP, 0, 0);
        return TRUE;
    }
    return FALSE;
}

// A modal dialog of the package contents template run with `proc`; its
// result, the dialog forgotten as the code that started it forgets it.
INT_PTR RunModal(DLGPROC proc)
{
    std::vector<std::uint8_t> t = BuildPackageContentsTemplate(L"5.18");
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                             nullptr, proc, 0);
    UiBoundary::SetModalDialog(nullptr);
    return result;
}

} // namespace

TEST_CASE("an exception inside a modal dialog ends it and comes out after DialogBox returns")
{
    CHECK(RunModal(&ThrowingDialogProc) == -1);
    CHECK_THROWS_WITH_AS(UiBoundary::RethrowPending(), "thrown by a layer", WStrException);
}

namespace {

int g_hidingDepth = 0, g_deepestHiding = 0;

// Fails once the dialog shows. Ending the dialog hides it, which sends it
// WM_WINDOWPOSCHANGING: ended again from there, it would be hidden again
// from inside the first hiding, and so on without end.
INT_PTR CALLBACK FailingWhenShownProc(HWND dlg, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        UiBoundary::SetModalDialog(dlg);
        PostMessageW(dlg, WM_APP, 0, 0);
        return TRUE;
    }
    if (msg != WM_WINDOWPOSCHANGING) {
        return UiBoundary::Run(INT_PTR(FALSE), [&]() -> INT_PTR {
            if (msg == WM_APP) {
                ShowWindow(dlg, SW_SHOWNA);
                throw WStrException(L"thrown once shown");
            }
            return FALSE;
        });
    }
    g_deepestHiding = std::max(g_deepestHiding, ++g_hidingDepth);
    // Stops what would otherwise never return, so that the test can fail.
    if (g_hidingDepth > 3)
        UiBoundary::SetModalDialog(nullptr);
    INT_PTR result = UiBoundary::Run(INT_PTR(FALSE), [] { return INT_PTR(FALSE); });
    --g_hidingDepth;
    return result;
}

} // namespace

TEST_CASE("a failure in a dialog on screen ends it once: the messages that ending it sends do not end it again")
{
    CHECK(RunModal(&FailingWhenShownProc) == -1);
    CHECK(g_deepestHiding == 1);
    CHECK_THROWS_WITH_AS(UiBoundary::RethrowPending(), "thrown once shown", WStrException);
}

TEST_CASE("a link: mouse and keyboard clicks, parent command, visited, painting")
{
    TestWindow w;
    HWND link = w.Child(L"STATIC", L"What's in the package", SS_LEFT | SS_CENTERIMAGE, 10, 10, 300, 20, 1006);
    auto* object = new SubWnd_HyperLink;
    RefPtr<SubWnd> ref(object);
    REQUIRE(AttachSubWnd(link, ref));
    CHECK((GetWindowLongPtrW(link, GWL_STYLE) & SS_NOTIFY) != 0);
    CHECK(object->Tooltip() != nullptr);
    Paint(link);
    const RECT hit = object->HitRect();
    REQUIRE(hit.right > hit.left + 20);
    CHECK(hit.left == 0);
    CHECK(hit.right < 300); // the text, not the whole control
    const LONG inX = (hit.left + hit.right) / 2, inY = (hit.top + hit.bottom) / 2;
    const WPARAM command = MAKEWPARAM(1006, 0);

    SUBCASE("press and release over the text clicks: the parent gets the command; visited")
    {
        SendMessageW(link, WM_MOUSEMOVE, 0, At(inX, inY));
        CHECK(object->Hot());
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, At(inX, inY));
        CHECK(object->Pressed());
        CHECK(GetCapture() == link);
        CHECK_FALSE(object->Visited());
        SendMessageW(link, WM_LBUTTONUP, 0, At(inX, inY));
        CHECK(g_commands == std::vector<WPARAM>{command});
        CHECK(object->Visited());
        CHECK(GetCapture() == nullptr);
    }
    SUBCASE("dragging off before the release does not click; dragging back does")
    {
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, At(inX, inY));
        SendMessageW(link, WM_MOUSEMOVE, MK_LBUTTON, At(hit.right + 50, inY));
        CHECK_FALSE(object->Hot());
        SendMessageW(link, WM_LBUTTONUP, 0, At(hit.right + 50, inY));
        CHECK(g_commands.empty());
        CHECK_FALSE(object->Visited());
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, At(inX, inY));
        SendMessageW(link, WM_MOUSEMOVE, MK_LBUTTON, At(hit.right + 50, inY));
        SendMessageW(link, WM_MOUSEMOVE, MK_LBUTTON, At(inX, inY));
        SendMessageW(link, WM_LBUTTONUP, 0, At(inX, inY));
        CHECK(g_commands.size() == 1);
    }
    SUBCASE("a press beside the text is no press")
    {
        SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, At(hit.right + 50, inY));
        CHECK_FALSE(object->Pressed());
        SendMessageW(link, WM_LBUTTONUP, 0, At(hit.right + 50, inY));
        CHECK(g_commands.empty());
    }
    SUBCASE("the space bar clicks")
    {
        SendMessageW(link, WM_KEYDOWN, VK_SPACE, 0);
        SendMessageW(link, WM_KEYDOWN, 'A', 0);
        CHECK(g_commands == std::vector<WPARAM>{command});
    }
    SUBCASE("enabled it is drawn in the link colour; disabled, embossed in the system's colours")
    {
        CHECK(Shows(link, SubWnd_HyperLink::kLinkColour));
        EnableWindow(link, FALSE);
        Paint(link);
        CHECK_FALSE(Shows(link, SubWnd_HyperLink::kLinkColour));
        CHECK(Shows(link, GetSysColor(COLOR_BTNSHADOW)));
    }
}

TEST_CASE("a link with a target opens it with the shell and sends no command")
{
    Test::TempDir dir;
    const std::wstring marker = dir.Path() + L"\\opened.txt";
    const std::wstring script = dir.Path() + L"\\open.cmd";
    Test::WriteTextFile(script, "@echo opened> \"" + Test::Narrow(marker) + "\"\r\n");
    TestWindow w;
    HWND link = w.Child(L"STATIC", L"Visit the Quendal web page", SS_LEFT, 10, 10, 300, 20, 1002);
    auto* object = new SubWnd_HyperLink(WString(script.c_str()));
    AttachSubWnd(link, RefPtr<SubWnd>(object));
    SendMessageW(link, WM_KEYDOWN, VK_SPACE, 0);
    CHECK(g_commands.empty());
    CHECK(object->Visited());
    bool opened = false;
    for (int i = 0; i < 100 && !opened; ++i, Sleep(100))
        opened = GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    CHECK(opened);
}

TEST_CASE("anchors: stretching, moving, dropping, and no layout when minimised")
{
    TestWindow w(400, 300);
    HWND stretch = w.Child(L"BUTTON", L"s", 0, 10, 10, 100, 20, 1);
    HWND right = w.Child(L"BUTTON", L"r", 0, 300, 40, 50, 20, 2);
    HWND bottom = w.Child(L"BUTTON", L"b", 0, 10, 250, 50, 20, 3);
    HWND loose = w.Child(L"BUTTON", L"l", 0, 200, 200, 30, 20, 4);
    auto* anchors = new SubWnd_AnchorCtrl;
    RefPtr<SubWnd> ref(anchors);
    anchors->SetAnchor(1, {10, 10, 10, -1, -1});
    anchors->SetAnchor(2, {-1, 40, 50, -1, 0});
    anchors->SetAnchor(bottom, {10, -1, -1, 30, 1});
    anchors->SetAnchor(4, {-1, -1, -1, -1, -1});
    anchors->ApplyAnchors(w.hwnd);
    CHECK(SameRect(ChildRect(stretch), RECT{10, 10, 390, 30}));
    CHECK(SameRect(ChildRect(right), RECT{300, 40, 350, 60}));
    CHECK(SameRect(ChildRect(bottom), RECT{10, 250, 60, 270}));
    CHECK_FALSE(anchors->HasAnchor(4)); // nothing anchored: dropped, never applied
    CHECK(SameRect(ChildRect(loose), RECT{200, 200, 230, 220}));

    REQUIRE(AttachSubWnd(w.hwnd, ref));
    RECT outer;
    GetWindowRect(w.hwnd, &outer);
    SetWindowPos(w.hwnd, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 50,
                 SWP_NOMOVE | SWP_NOZORDER);
    CHECK(SameRect(ChildRect(stretch), RECT{10, 10, 490, 30}));   // both edges: wider
    CHECK(SameRect(ChildRect(right), RECT{400, 40, 450, 60}));     // right edge only: moved, same width
    CHECK(SameRect(ChildRect(bottom), RECT{10, 300, 60, 320}));    // bottom edge only: moved down
    CHECK(SameRect(ChildRect(loose), RECT{200, 200, 230, 220}));

    const RECT before = ChildRect(stretch);
    ShowWindow(w.hwnd, SW_MINIMIZE);
    CHECK(SameRect(ChildRect(stretch), before));
}

TEST_CASE("placement helpers")
{
    SUBCASE("centring on the work area keeps the window inside it")
    {
        RECT work;
        REQUIRE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
        TestWindow small(200, 100);
        REQUIRE(CenterWindow(CenterOn::WorkArea, small.hwnd));
        RECT r;
        GetWindowRect(small.hwnd, &r);
        const LONG w = r.right - r.left, h = r.bottom - r.top;
        CHECK(r.left == (work.left + work.right) / 2 - w / 2);
        CHECK(r.top == (work.top + work.bottom) / 2 - h / 2);

        TestWindow huge(200, 100);
        SetWindowPos(huge.hwnd, nullptr, 0, 0, (work.right - work.left) + 300, 200, SWP_NOMOVE | SWP_NOZORDER);
        REQUIRE(CenterWindow(CenterOn::WorkArea, huge.hwnd));
        GetWindowRect(huge.hwnd, &r);
        CHECK(r.left == work.left); // larger than the work area: its left edge shows
        CHECK(r.top >= work.top);
        CHECK(r.bottom <= work.bottom);
    }
    SUBCASE("dialog units keep zero and negative components")
    {
        TestWindow w;
        std::vector<std::uint8_t> t = BuildPackageContentsTemplate(L"5.18");
        HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                              w.hwnd, &NoDialogProc, 0);
        REQUIRE(dlg != nullptr);
        RECT mapped = MapDialogRectKeepSigns(RECT{0, 8, -4, 0}, dlg);
        CHECK(mapped.left == 0);
        CHECK(mapped.top > 8);
        CHECK(mapped.right < -4);
        CHECK(mapped.bottom == 0);
        CHECK(DluToPixelsY(8, dlg) == mapped.top);
        CHECK(DluToPixelsX(0, dlg) == 0);
        DestroyWindow(dlg);
    }
    SUBCASE("window text, and the control font falls back to the parent's")
    {
        TestWindow w;
        HWND edit = w.Child(L"EDIT", L"", 0, 0, 0, 100, 20, 5);
        WString text(L"unchanged");
        CHECK(GetWindowTextString(edit, text));
        CHECK(text.empty());
        SetWindowTextW(edit, L"C:\\Program Files\\Quendal");
        CHECK(GetWindowTextString(edit, text));
        CHECK(std::wstring(text.c_str()) == L"C:\\Program Files\\Quendal");
        CHECK(GetCtrlFont(nullptr) == GetStockObject(DEFAULT_GUI_FONT));
        LOGFONTW lf = {};
        GetCtrlLogFont(edit, lf);
        CHECK(lf.lfHeight != 0);
    }
}

TEST_CASE("a link's tooltip, cursor and focus frame")
{
    TestWindow w;
    HWND link = w.Child(L"STATIC", L"Visit the Quendal web page", SS_LEFT, 10, 10, 300, 40, 1002);
    const std::wstring target = L"https://quendal.example/download";
    auto* object = new SubWnd_HyperLink(WString(target.c_str()));
    RefPtr<SubWnd> ref(object);
    REQUIRE(AttachSubWnd(link, ref));
    Paint(link);
    const RECT hit = object->HitRect();
    REQUIRE(hit.right > hit.left);
    const LPARAM overText = At((hit.left + hit.right) / 2, (hit.top + hit.bottom) / 2);
    const LPARAM besideText = At(hit.right + 20, (hit.top + hit.bottom) / 2);

    SUBCASE("one tool over the link, owned by it, that shows the target")
    {
        HWND tip = object->Tooltip();
        // Created with the link as its owner; Windows gives a popup the
        // top-level window instead, so it closes with the dialog.
        CHECK(GetWindow(tip, GW_OWNER) == GetAncestor(link, GA_ROOT));
        CHECK((GetWindowLongPtrW(tip, GWL_STYLE) & (TTS_ALWAYSTIP | TTS_NOPREFIX)) == (TTS_ALWAYSTIP | TTS_NOPREFIX));
        CHECK(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0) == 1);
        wchar_t text[128] = {};
        TOOLINFOW tool = {};
        tool.cbSize = sizeof(tool);
        tool.hwnd = link;
        tool.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
        CHECK(std::wstring(text) == target);
    }
    SUBCASE("the hand over the text, the arrow beside it")
    {
        const LPARAM setCursor = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
        SendMessageW(link, WM_MOUSEMOVE, 0, overText);
        CHECK(SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), setCursor) == TRUE);
        CHECK(GetCursor() == LoadCursorW(nullptr, IDC_HAND));
        SendMessageW(link, WM_MOUSEMOVE, 0, besideText);
        CHECK(SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), setCursor) == TRUE);
        CHECK(GetCursor() == LoadCursorW(nullptr, IDC_ARROW));
    }
    SUBCASE("focused: a dotted frame in the text colour around the text; none while disabled")
    {
        const COLORREF frame = GetSysColor(COLOR_WINDOWTEXT);
        CHECK_FALSE(Shows(link, frame));
        SendMessageW(link, WM_SETFOCUS, 0, 0);
        Paint(link);
        CHECK(Shows(link, frame));
        // The frame's columns are those of the text's hit rectangle.
        HDC dc = GetDC(link);
        int onLeft = 0, onRight = 0, beyond = 0;
        RECT client;
        GetClientRect(link, &client);
        for (LONG y = 0; y < client.bottom; ++y) {
            onLeft += GetPixel(dc, hit.left, y) == frame;
            onRight += GetPixel(dc, hit.right - 1, y) == frame;
            beyond += GetPixel(dc, hit.right + 2, y) == frame;
        }
        ReleaseDC(link, dc);
        CHECK(onLeft > 0);
        CHECK(onRight > 0);
        CHECK(beyond == 0);
        EnableWindow(link, FALSE);
        Paint(link);
        CHECK_FALSE(Shows(link, frame));
    }
}

TEST_CASE("centring: on the cursor, on the parent, and where a hidden or minimised parent sends it")
{
    RECT work;
    REQUIRE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const POINT workCentre = {(work.left + work.right) / 2, (work.top + work.bottom) / 2};
    TestWindow parent(300, 200);
    SetWindowPos(parent.hwnd, nullptr, work.left + 400, work.top + 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT pr;
    GetWindowRect(parent.hwnd, &pr);
    const POINT parentCentre = {(pr.left + pr.right) / 2, (pr.top + pr.bottom) / 2};
    HWND popup = CreateWindowExW(0, L"QuendalUiTest", L"popup", WS_POPUP | WS_BORDER | WS_VISIBLE, 0, 0, 120, 80,
                                 parent.hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    REQUIRE(popup != nullptr);
    REQUIRE(Test::MoveCursor(work.left + 200, work.top + 150));
    POINT cursor;
    GetCursorPos(&cursor);
    auto centreOf = [](HWND h) {
        RECT r;
        GetWindowRect(h, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    auto centredOn = [&](CenterOn mode) {
        REQUIRE(CenterWindow(mode, popup));
        return centreOf(popup);
    };
    auto same = [](POINT a, POINT b) { return std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1; };

    SUBCASE("a shown parent: every parent mode takes its centre; the cursor mode the cursor")
    {
        CHECK(same(centredOn(CenterOn::Cursor), cursor));
        CHECK(same(centredOn(CenterOn::Parent), parentCentre));
        CHECK(same(centredOn(CenterOn::VisibleParent), parentCentre));
        CHECK(same(centredOn(CenterOn::VisibleParentOrCursor), parentCentre));
    }
    SUBCASE("a hidden parent counts only for the plain parent mode")
    {
        ShowWindow(parent.hwnd, SW_HIDE);
        CHECK(same(centredOn(CenterOn::Parent), parentCentre));
        CHECK(same(centredOn(CenterOn::VisibleParent), workCentre));
        CHECK(same(centredOn(CenterOn::VisibleParentOrCursor), cursor));
    }
    SUBCASE("a minimised parent: its normal place, or the fallbacks")
    {
        ShowWindow(parent.hwnd, SW_MINIMIZE);
        REQUIRE(IsIconic(parent.hwnd));
        CHECK(same(centredOn(CenterOn::Parent), parentCentre));
        CHECK(same(centredOn(CenterOn::VisibleParent), workCentre));
        CHECK(same(centredOn(CenterOn::VisibleParentOrCursor), cursor));
    }
    SUBCASE("without a parent: the work area, or the cursor")
    {
        HWND alone = CreateWindowExW(0, L"QuendalUiTest", L"alone", WS_POPUP | WS_BORDER | WS_VISIBLE, 0, 0, 120, 80,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(alone != nullptr);
        for (CenterOn mode : {CenterOn::Parent, CenterOn::VisibleParent}) {
            REQUIRE(CenterWindow(mode, alone));
            CHECK(same(centreOf(alone), workCentre));
        }
        REQUIRE(CenterWindow(CenterOn::VisibleParentOrCursor, alone));
        CHECK(same(centreOf(alone), cursor));
        DestroyWindow(alone);
    }
    SUBCASE("at the cursor near the work area's corner, the window stays inside")
    {
        REQUIRE(Test::MoveCursor(work.right - 5, work.bottom - 5));
        centredOn(CenterOn::Cursor);
        RECT r;
        GetWindowRect(popup, &r);
        CHECK(r.right == work.right);
        CHECK(r.bottom == work.bottom);
    }
    DestroyWindow(popup);
}
