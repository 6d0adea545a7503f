// The licence agreement and package contents viewers: the resources, Rich
// Edit streaming, the viewer colour, the acceptance rule and the package
// contents window, on real windows.
#include "../../nocrtlib/WException.h"
#include "../../ui/AgreementPanel.h"
#include "../../ui/DlgTmpl.h"
#include "../../ui/PackageContentsWindow.h"
#include "../../ui/RichText.h"
#include "../../ui/UiBoundary.h"
#include "../../wwlib/DllLoader.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <cstdlib>
#include <richedit.h>
#include <string>

namespace {

// A Rich Edit control in a window of its own.
struct RichEditWindow {
    HWND hwnd;
    RichEditWindow()
    {
        WWLib::LoadProcessRichEdit();
        hwnd = CreateWindowExW(0, L"RichEdit20W", L"", WS_POPUP | ES_MULTILINE | WS_VSCROLL, 0, 0, 300, 200, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        REQUIRE(hwnd != nullptr);
    }
    ~RichEditWindow() { DestroyWindow(hwnd); }
    std::wstring Text() const
    {
        wchar_t buf[4096] = {};
        GETTEXTEX gt = {};
        gt.cb = sizeof(buf);
        gt.flags = GT_DEFAULT;
        gt.codepage = 1200;
        SendMessageW(hwnd, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&gt), reinterpret_cast<LPARAM>(buf));
        return buf;
    }
};

std::wstring W(const WString& s)
{
    return std::wstring(s.c_str(), s.size());
}

// Reads a source dry with a given request size; the sizes handed over.
std::vector<LONG> Drain(RichTextSource& source, LONG cb, std::string& bytes)
{
    std::vector<LONG> sizes;
    std::vector<BYTE> buf(static_cast<std::size_t>(cb) + 1);
    for (;;) {
        LONG n = -1;
        REQUIRE(source.Read(buf.data(), cb, &n) == 0);
        sizes.push_back(n);
        bytes.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n));
        if (n == 0)
            return sizes;
    }
}

HWND g_owner;
int g_closedMessages;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == PackageContentsWindow::kClosedMessage) {
        ++g_closedMessages;
        PackageContentsWindow::Closed();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int CountWindowsTitled(const wchar_t* title)
{
    int n = 0;
    for (HWND h = FindWindowExW(nullptr, nullptr, nullptr, title); h; h = FindWindowExW(nullptr, h, nullptr, title))
        ++n;
    return n;
}

INT_PTR CALLBACK PanelProc(HWND, UINT msg, WPARAM, LPARAM)
{
    return msg == WM_INITDIALOG;
}

std::unique_ptr<DlgTmpl::Item> Button(WORD id, DWORD style, const wchar_t* text)
{
    auto item = std::make_unique<DlgTmpl::Item>();
    item->style = WS_CHILD | WS_VISIBLE | style;
    item->cx = 100;
    item->cy = 12;
    item->id = id;
    item->classOrdinal = 0x0080;
    item->titleIsString = true;
    item->title = text;
    return item;
}

} // namespace

TEST_CASE("the program's rich-text resources")
{
    WString agreement = LoadRtfResource(129);
    CHECK(agreement.startsWith(L"{\\rtf1"));
    CHECK(W(agreement).find(L"END-USER LICENSE AGREEMENT") != std::wstring::npos);
    CHECK(agreement[agreement.size() - 1] == L'}'); // the resource's zero byte is not text
    WString contents = LoadRtfResource(130);
    CHECK(W(contents).find(L"Quendal.exe") != std::wstring::npos);
    try {
        LoadRtfResource(999);
        FAIL("no exception");
    } catch (const WStrException& e) {
        CHECK(std::wstring(e.Description().p).rfind(L"FindResourceW() failed: ", 0) == 0);
    }
}

TEST_CASE("streaming into Rich Edit: the format and the short header")
{
    RichEditWindow edit;
    SUBCASE("a full RTF header is rich text")
    {
        StreamRichText(L"{\\rtf1 {\\b bold} plain}", edit.hwnd, TextFormat::Detect);
        CHECK(edit.Text() == L"bold plain");
    }
    SUBCASE("the short header {\\r is expanded")
    {
        StreamRichText(L"{\\r {\\b short} header}", edit.hwnd, TextFormat::Detect);
        CHECK(edit.Text() == L"short header");
        StreamRichText(L"{\\r ", edit.hwnd, TextFormat::Detect);
        CHECK(edit.Text() == L"");
    }
    SUBCASE("a brace and a backslash with another letter, or a text under four characters, is plain text")
    {
        StreamRichText(L"{\\b not rich}", edit.hwnd, TextFormat::Detect);
        CHECK(edit.Text() == L"{\\b not rich}");
        StreamRichText(L"{\\r", edit.hwnd, TextFormat::Detect);
        CHECK(edit.Text() == L"{\\r");
    }
    SUBCASE("a given format is used as it is, and the content is replaced")
    {
        StreamRichText(L"{\\rtf1 x}", edit.hwnd, TextFormat::Plain);
        CHECK(edit.Text() == L"{\\rtf1 x}");
        StreamRichText(L"Zürich \x263A", edit.hwnd, TextFormat::Plain);
        CHECK(edit.Text() == L"Zürich \x263A");
    }
    SUBCASE("the agreement resource shows as text and the control is scrolled to the top")
    {
        StreamRichText(LoadRtfResource(129), edit.hwnd, TextFormat::Rich);
        CHECK(edit.Text().rfind(L"KORVANE QUENDAL 5.18 END-USER LICENSE AGREEMENT", 0) == 0);
        CHECK(SendMessageW(edit.hwnd, EM_GETFIRSTVISIBLELINE, 0, 0) == 0);
    }
}

TEST_CASE("the stream source hands the text over in chunks")
{
    SUBCASE("narrow: chunks of the requested size add up to the text; the last is 0")
    {
        AString text(1000, 'x');
        RichTextSource source;
        source.narrow = &text;
        std::string got;
        CHECK(Drain(source, 300, got) == std::vector<LONG>{300, 300, 300, 100, 0});
        CHECK(got == std::string(1000, 'x'));
        CHECK(text.empty());
    }
    SUBCASE("wide: whole characters only, so an odd request is rounded down")
    {
        WString text(L"abcde");
        RichTextSource source;
        source.wide = &text;
        std::string got;
        CHECK(Drain(source, 3, got) == std::vector<LONG>{2, 2, 2, 2, 2, 0});
        CHECK(got == std::string("a\0b\0c\0d\0e\0", 10));
    }
    SUBCASE("without a text, or with a negative size")
    {
        RichTextSource none;
        BYTE buf[4];
        LONG n = 0;
        CHECK_THROWS_WITH_AS(none.Read(buf, 4, &n),
                             "RichEdit_StreamCallback(): both m_pTextN and m_pTextW are null while streaming in",
                             WStrException);
        AString text("ab");
        RichTextSource source;
        source.narrow = &text;
        CHECK_THROWS(source.Read(buf, -1, &n));
    }
    SUBCASE("a long text reaches the control whole")
    {
        RichEditWindow edit;
        SendMessageW(edit.hwnd, EM_EXLIMITTEXT, 0, 1 << 20);
        WString text;
        for (int i = 0; i < 2000; ++i)
            text += L"0123456789";
        StreamRichText(text, edit.hwnd, TextFormat::Plain);
        CHECK(GetWindowTextLengthW(edit.hwnd) == 20000);
    }
}

TEST_CASE("the agreement viewer's background colour")
{
    // The standard scheme: a very light grey.
    CHECK(ViewerBackgroundColour(RGB(240, 240, 240), RGB(255, 255, 255)) == RGB(249, 249, 249));
    // A saturated colour keeps its hue and lightness and loses two thirds
    // of its saturation: pure blue (saturation 1, lightness 0.5) becomes
    // saturation 0.34, so 0.33, 0.33 and 0.67 of 255.
    CHECK(ViewerBackgroundColour(RGB(0, 0, 255), RGB(0, 0, 255)) == RGB(84, 84, 171));
    CHECK(ViewerBackgroundColour() ==
          ViewerBackgroundColour(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOW)));
}

TEST_CASE("accepting the agreement moves the bold font from the box to the Install button")
{
    DlgTmpl t;
    t.SetFont(L"MS Shell Dlg", 8);
    t.cx = 200;
    t.cy = 100;
    t.AddItem(Button(kAgreementCheckId, BS_AUTOCHECKBOX, L"I agree"));
    t.AddItem(Button(IDOK, BS_DEFPUSHBUTTON, L"Install"));
    std::vector<std::uint8_t> bytes = t.Build();
    HWND dlg = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                          nullptr, &PanelProc, 0);
    REQUIRE(dlg != nullptr);
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    lf.lfWeight = FW_BOLD;
    HFONT bold = CreateFontIndirectW(&lf);
    const auto normal = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    auto fontOf = [dlg](int id) { return reinterpret_cast<HFONT>(SendDlgItemMessageW(dlg, id, WM_GETFONT, 0, 0)); };

    CHECK_FALSE(UpdateAcceptState(dlg, bold));
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    CHECK(fontOf(kAgreementCheckId) == bold);
    CHECK(fontOf(IDOK) == normal);

    SendDlgItemMessageW(dlg, kAgreementCheckId, BM_CLICK, 0, 0);
    CHECK(UpdateAcceptState(dlg, bold));
    CHECK(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    CHECK(fontOf(kAgreementCheckId) == normal);
    CHECK(fontOf(IDOK) == bold);

    SendDlgItemMessageW(dlg, kAgreementCheckId, BM_CLICK, 0, 0);
    CHECK_FALSE(UpdateAcceptState(dlg, bold));
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
    CHECK(fontOf(kAgreementCheckId) == bold);
    DestroyWindow(dlg);
    DeleteObject(bold);
}

TEST_CASE("the package contents window: one at a time, reopened after closing, filled and bounded")
{
    WWLib::LoadProcessRichEdit();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &OwnerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuendalViewerOwner";
    RegisterClassW(&wc);
    g_owner = CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                              nullptr, nullptr, wc.hInstance, nullptr);
    REQUIRE(g_owner != nullptr);
    g_closedMessages = 0;
    const wchar_t title[] = L"Korvane Quendal 5.18 Package Contents";
    std::vector<std::uint8_t> bytes = BuildPackageContentsTemplate(L"5.18");

    // It opens where the pointer is, whoever asked for it.
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    REQUIRE(Test::MoveCursor((work.left + work.right) / 2 + 60, (work.top + work.bottom) / 2 - 40));
    POINT cursor;
    GetCursorPos(&cursor);
    HWND first = PackageContentsWindow::Open(g_owner, bytes);
    REQUIRE(first != nullptr);
    CHECK(GetWindow(first, GW_OWNER) == g_owner);
    RECT placed;
    GetWindowRect(first, &placed);
    CHECK(std::abs((placed.left + placed.right) / 2 - cursor.x) <= 1);
    CHECK(std::abs((placed.top + placed.bottom) / 2 - cursor.y) <= 1);
    CHECK(PackageContentsWindow::Open(g_owner, bytes) == first);
    CHECK(CountWindowsTitled(title) == 1);

    HWND text = GetWindow(first, GW_CHILD);
    REQUIRE(text != nullptr);
    wchar_t cls[32] = {};
    GetClassNameW(text, cls, 32);
    CHECK(std::wstring(cls) == L"RichEdit20W");
    CHECK(GetWindowTextLengthW(text) > 100);
    CHECK((SendMessageW(text, EM_GETOPTIONS, 0, 0) & ECO_READONLY) != 0);
    // Setting a background answers the one in use: the tooltip colour.
    CHECK(static_cast<COLORREF>(SendMessageW(text, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3))) == GetSysColor(COLOR_INFOBK));
    SendMessageW(text, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_INFOBK));
    // The description shows from its beginning, also once the window has been
    // painted, and nothing of it is selected.
    UpdateWindow(first);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
    CHECK(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0) == 0);
    CHARRANGE selection = {-1, -1};
    SendMessageW(text, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    CHECK(selection.cpMin == selection.cpMax);

    // Larger: the text still fills the client area. Smaller than allowed: held at the minimum.
    SetWindowPos(first, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
    RECT client, child;
    GetClientRect(first, &client);
    GetWindowRect(text, &child);
    MapWindowPoints(nullptr, first, reinterpret_cast<POINT*>(&child), 2);
    CHECK(child.left == 0);
    CHECK(child.top == 0);
    CHECK(child.right == client.right);
    CHECK(child.bottom == client.bottom);
    SetWindowPos(first, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER);
    RECT outer;
    GetWindowRect(first, &outer);
    const SIZE min = PackageContentsWindow::MinimumTrackSize(first);
    CHECK(outer.right - outer.left >= min.cx);
    CHECK(outer.bottom - outer.top >= min.cy);

    // The close box destroys it and tells the owner; the next open makes a new one.
    SendMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK_FALSE(IsWindow(first));
    CHECK(g_closedMessages == 1);
    CHECK(PackageContentsWindow::Handle() == nullptr);
    HWND second = PackageContentsWindow::Open(g_owner, bytes);
    CHECK(second != nullptr);
    CHECK(IsWindow(second));
    CHECK(CountWindowsTitled(title) == 1);
    DestroyWindow(g_owner); // an owned window goes with its owner
    CHECK_FALSE(IsWindow(second));
    CHECK(PackageContentsWindow::Handle() == nullptr);
}
