// The installer's main dialog on real windows: the dialog runs on a thread of
// this program, as it would on the installer's main thread, and the test
// drives it through messages, as a person would through the mouse and keys.
#include "../../nocrtlib/WException.h"
#include "../../ui/AgreementPanel.h"
#include "../../ui/MainDialog.h"
#include "../../ui/PackageContentsWindow.h"
#include "../../ui/RichText.h"
#include "../../ui/UiBoundary.h"
#include "../../wwlib/DllLoader.h"
#include "../support/DialogDriver.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>
#include <exception>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Ids = MainDialog::ControlId;
constexpr int kLocation = Ids::kLocation, kPackageLink = Ids::kPackageLink, kRunPanel = Ids::kRunControlPanel,
              kSiteList = Ids::kSiteList, kExisting = Ids::kExistingSite, kNew = Ids::kNewSite,
              kNewDefault = Ids::kNewDefaultSite, kNewNamed = Ids::kNewNamedSite, kSiteName = Ids::kSiteName,
              kAgreement = kAgreementCheckId, kViewer = kAgreementViewerId;

const wchar_t kTitle[] = L"Korvane Quendal 5.18 Installer";

MainDialog::Site Site(const wchar_t* name, const wchar_t* dir, const wchar_t* version)
{
    return MainDialog::Site{name, dir, version};
}

// The dialog on a thread of its own, with the record it reads and writes.
struct DialogRun {
    bool accepted = false;
    WString dir;
    bool runPanel = true;
    MainDialog::SiteList sites;
    MainDialog::Data data = {};
    WString (*refuse)(const WString&) = nullptr;
    HANDLE thread = nullptr;
    INT_PTR result = -2;
    std::exception_ptr error;
    Test::DialogDriver d{nullptr};

    // A thread routine: nothing unwinds out of it.
    static DWORD WINAPI Main(void* self)
    {
        auto* run = static_cast<DialogRun*>(self);
        try {
            WWLib::LoadProcessRichEdit();
            run->result = MainDialog::Run(run->data);
        } catch (...) {
            run->error = std::current_exception();
        }
        return 0;
    }

    void Start(const wchar_t* location)
    {
        dir = location;
        data = MainDialog::Data{&accepted, &dir, &runPanel, &sites};
        data.refusedTarget = refuse;
        wchar_t programFiles[MAX_PATH] = {};
        SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
        data.newSiteParent = programFiles; // what the installer gives
        thread = CreateThread(nullptr, 0, &Main, this, 0, nullptr);
        REQUIRE(thread != nullptr);
        HWND h = Test::WaitForWindow(kTitle, 15000);
        REQUIRE(h != nullptr);
        d = Test::DialogDriver(h);
    }

    INT_PTR Finish()
    {
        REQUIRE(WaitForSingleObject(thread, 15000) == WAIT_OBJECT_0);
        CloseHandle(thread);
        thread = nullptr;
        if (error)
            std::rethrow_exception(error);
        return result;
    }

    ~DialogRun()
    {
        if (thread) {
            PostMessageW(d.Window(), WM_COMMAND, IDCANCEL, 0);
            WaitForSingleObject(thread, 15000);
            CloseHandle(thread);
        }
    }

    std::wstring Location() const { return d.Text(kLocation); }
    // The control with the focus on the dialog's thread. The thread has a
    // focus only once its dialog has been activated, which on a busy machine
    // can come late: look for a while.
    HWND Focus() const
    {
        for (int i = 0; i < 100; ++i, Sleep(50)) {
            GUITHREADINFO info = {};
            info.cbSize = sizeof(info);
            GetGUIThreadInfo(GetWindowThreadProcessId(d.Window(), nullptr), &info);
            if (info.hwndFocus)
                return info.hwndFocus;
        }
        return nullptr;
    }
    void CheckFocus(int id) const
    {
        HWND focus = Focus();
        if (focus)
            CHECK(focus == d.Item(id));
        else
            MESSAGE("the dialog was not activated: its first focus could not be seen");
    }
    std::wstring Caption() const { return d.Text(IDOK); }
    HFONT NormalFont() const { return reinterpret_cast<HFONT>(SendMessageW(d.Window(), WM_GETFONT, 0, 0)); }
    bool InstallBold() const
    {
        LOGFONTW lf = {};
        GetObjectW(d.Font(IDOK), sizeof(lf), &lf);
        return lf.lfWeight >= FW_BOLD;
    }
};

int RowsShown(const Test::DialogDriver& d)
{
    return static_cast<int>(SendMessageW(d.Item(kSiteList), LVM_GETCOUNTPERPAGE, 0, 0));
}

} // namespace

TEST_CASE("main dialog: no installed sites")
{
    DialogRun run;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    Test::DialogDriver& d = run.d;
    CHECK(d.Title() == kTitle);
    CHECK_FALSE(d.Visible(kSiteList));
    CHECK_FALSE(d.Enabled(kExisting));
    CHECK(d.Checked(kNew));
    CHECK(d.Checked(kNewDefault));
    CHECK(run.Caption() == L"Install");
    CHECK(run.Location() == L"C:\\Program Files\\Korvane Quendal");
    CHECK(GetWindowTextLengthW(d.Item(kViewer)) > 500);
    // Not accepted yet: Install disabled, the box bold.
    CHECK_FALSE(d.Enabled(IDOK));
    CHECK(d.Font(kAgreement) != run.NormalFont());
    run.CheckFocus(kViewer); // the agreement first, while it is not accepted

    d.Click(kAgreement);
    CHECK(run.accepted);
    CHECK(d.Enabled(IDOK));
    CHECK(run.InstallBold());
    CHECK(d.Font(kAgreement) == run.NormalFont());
    d.Click(kAgreement);
    CHECK_FALSE(run.accepted);
    CHECK_FALSE(d.Enabled(IDOK));
    CHECK_FALSE(run.InstallBold());

    SUBCASE("Install: result 1, the location and the control panel choice handed back")
    {
        d.Click(kAgreement);
        d.Click(kRunPanel);
        d.Type(kLocation, L"D:\\Apps\\Korvane Quendal");
        d.Click(IDOK);
        CHECK(run.Finish() == IDOK);
        CHECK(std::wstring(run.dir.c_str()) == L"D:\\Apps\\Korvane Quendal");
        CHECK(run.accepted);
        CHECK_FALSE(run.runPanel);
    }
    SUBCASE("Cancel ends with 2")
    {
        d.Click(IDCANCEL);
        CHECK(run.Finish() == IDCANCEL);
    }
    SUBCASE("Escape ends with 2")
    {
        d.PressEscape();
        CHECK(run.Finish() == IDCANCEL);
    }
    SUBCASE("the close box ends with 2")
    {
        d.CloseBox();
        CHECK(run.Finish() == IDCANCEL);
    }
}

TEST_CASE("main dialog: new named and default sites from the location and the name")
{
    DialogRun run;
    run.accepted = true;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    Test::DialogDriver& d = run.d;
    CHECK(d.Enabled(IDOK));
    run.CheckFocus(kLocation); // accepted already: the location first
    SUBCASE("a location in a named-site folder chooses that named site")
    {
        d.Type(kLocation, L"C:\\Sites\\Quendal-web");
        CHECK(d.Checked(kNew));
        CHECK(d.Checked(kNewNamed));
        CHECK_FALSE(d.Checked(kNewDefault));
        CHECK(d.Text(kSiteName) == L"web");
        CHECK(run.Caption() == L"Install");
        CHECK(d.Enabled(IDOK));
        CHECK(std::wstring(run.dir.c_str()) == L"C:\\Sites\\Quendal-web");
        // The prefix alone names no site.
        d.Type(kLocation, L"C:\\Sites\\Quendal-");
        CHECK_FALSE(d.Enabled(IDOK));
        CHECK_FALSE(run.InstallBold());
        // The default site option puts the default folder in its place.
        d.Click(kNewDefault);
        CHECK(run.Location() == L"C:\\Sites\\Korvane Quendal");
        CHECK(d.Enabled(IDOK));
    }
    SUBCASE("a name typed for a folder that is no product folder makes a subfolder")
    {
        d.Type(kLocation, L"C:\\Data");
        d.Click(kNewNamed);
        d.Type(kSiteName, L"Office");
        CHECK(run.Location() == L"C:\\Data\\Quendal-Office");
        CHECK(std::wstring(run.dir.c_str()) == L"C:\\Data\\Quendal-Office");
        CHECK(d.Checked(kNewNamed));
        CHECK(d.Enabled(IDOK));
    }
    SUBCASE("a location without a parent folder takes the default one, Program Files")
    {
        wchar_t programFiles[MAX_PATH] = {};
        REQUIRE(SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE));
        d.Type(kLocation, L"");
        d.Click(kNewNamed);
        d.Type(kSiteName, L"x");
        CHECK(run.Location() == std::wstring(programFiles) + L"\\Quendal-x");
        CHECK(d.Enabled(IDOK));
        d.Type(kLocation, L"Quendal-");
        d.Click(kNewDefault);
        CHECK(run.Location() == std::wstring(programFiles) + L"\\Korvane Quendal");
        CHECK(d.Enabled(IDOK));
    }
    SUBCASE("a name typed while the location is the default folder replaces that folder")
    {
        d.Click(kNewNamed);
        CHECK(run.Location() == L"C:\\Program Files\\Quendal-");
        CHECK_FALSE(d.Enabled(IDOK));
        d.Type(kSiteName, L"web");
        CHECK(run.Location() == L"C:\\Program Files\\Quendal-web");
        CHECK(d.Enabled(IDOK));
    }
}

namespace {

// The installer's refusal stands in: C:\Windows and below, and a drive root.
WString RefuseWindows(const WString& dir)
{
    const std::wstring d(dir.c_str(), dir.size());
    if (_wcsnicmp(d.c_str(), L"C:\\windows", 10) == 0)
        return L"it is the Windows folder or lies in it";
    return d.size() <= 3 ? WString(L"it is the root of a drive") : WString();
}

// The text the location field's tooltip holds.
std::wstring TipText(HWND dlg)
{
    HWND tip = nullptr;
    for (HWND w = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); w && !tip;
         w = FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr))
        if (GetWindow(w, GW_OWNER) == dlg)
            tip = w;
    REQUIRE(tip != nullptr);
    wchar_t text[512] = {};
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = dlg;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dlg, MainDialog::kLocation));
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return text;
}

} // namespace

TEST_CASE("main dialog: a location that is no folder to install into keeps Install disabled and says why")
{
    DialogRun run;
    run.accepted = true;
    run.refuse = &RefuseWindows;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    Test::DialogDriver& d = run.d;
    CHECK(d.Enabled(IDOK));
    CHECK(MainDialog::LocationProblem().empty());
    struct Case {
        const wchar_t* typed;
        const wchar_t* problem;
    };
    const Case cases[] = {
        {L"", L"Enter the folder to install into."},
        {L"relative", L"Enter the whole path of the folder, such as C:\\Program Files\\Korvane Quendal."},
        {L"Sites\\Quendal-web", L"Enter the whole path of the folder, such as C:\\Program Files\\Korvane Quendal."},
        {L"C:\\Sites\\a|b", L"This is no folder to install into: "},
        {L"C:\\Windows\\Quendal", L"No installation may go into this folder: it is the Windows folder or lies in it."},
        {L"D:\\", L"No installation may go into this folder: it is the root of a drive."},
    };
    for (const Case& c : cases) {
        CAPTURE(Test::Narrow(c.typed));
        d.Type(kLocation, c.typed);
        CHECK_FALSE(d.Enabled(IDOK));
        const std::wstring problem(MainDialog::LocationProblem().c_str());
        CHECK(problem.rfind(c.problem, 0) == 0);
        CHECK(TipText(d.Window()) == problem);
    }
    // A trailing backslash and ".." are the canonical folder: a named site.
    d.Type(kLocation, L"C:\\Sites\\x\\..\\Quendal-web\\");
    CHECK(d.Enabled(IDOK));
    CHECK(d.Checked(kNewNamed));
    CHECK(d.Text(kSiteName) == L"web");
    CHECK(MainDialog::LocationProblem().empty());
    CHECK(TipText(d.Window()).empty());
    d.Click(IDOK);
    CHECK(run.Finish() == IDOK);
    CHECK(std::wstring(run.dir.c_str()) == L"C:\\Sites\\Quendal-web");
}

TEST_CASE("main dialog: installed sites")
{
    DialogRun run;
    run.accepted = true;
    SUBCASE("a default site elsewhere is offered: Upgrade for an older version")
    {
        run.sites.push_back(Site(L"Quendal", L"C:\\Old\\Korvane Quendal", L"5.10"));
        run.Start(L"C:\\Program Files\\Korvane Quendal");
        Test::DialogDriver& d = run.d;
        CHECK(d.Visible(kSiteList));
        CHECK(d.Checked(kExisting));
        CHECK(MainDialog::HighlightedSite() == 0);
        CHECK(run.Caption() == L"Upgrade");
        CHECK_FALSE(d.Enabled(kNewDefault));
        CHECK(d.Enabled(IDOK));
        CHECK(RowsShown(d) == 1);
        d.Click(IDOK);
        CHECK(run.Finish() == IDOK);
    }
    SUBCASE("the same or a newer version: Replace; versions compare as numbers")
    {
        run.sites.push_back(Site(L"Quendal", L"C:\\Old\\Korvane Quendal", L"5.18"));
        run.sites.push_back(Site(L"Quendal-B", L"C:\\B\\Quendal-B", L"10.0"));
        run.sites.push_back(Site(L"Quendal-C", L"C:\\C\\Quendal-C", L"5.9"));
        run.Start(L"C:\\Old\\Korvane Quendal");
        CHECK(run.Caption() == L"Replace");
        CHECK(RowsShown(run.d) == 3);
        run.d.Type(kLocation, L"C:\\B\\Quendal-B");
        CHECK(MainDialog::HighlightedSite() == 1);
        CHECK(run.Caption() == L"Replace");
        run.d.Type(kLocation, L"C:\\C\\Quendal-C");
        CHECK(MainDialog::HighlightedSite() == 2);
        CHECK(run.Caption() == L"Upgrade");
    }
    SUBCASE("only named sites: back from a new site to the existing one, Install is enabled again")
    {
        run.sites.push_back(Site(L"Quendal-A", L"C:\\A\\Quendal-A", L"5.10"));
        run.sites.push_back(Site(L"Quendal-B", L"C:\\B\\Quendal-B", L"5.18"));
        run.Start(L"C:\\A\\Quendal-A");
        Test::DialogDriver& d = run.d;
        CHECK(d.Enabled(IDOK));
        d.Click(kNew);
        CHECK_FALSE(d.Enabled(IDOK)); // an installed site's folder is no new site
        d.Click(kExisting);
        CHECK(MainDialog::HighlightedSite() == 0);
        CHECK(run.Caption() == L"Upgrade");
        CHECK(d.Enabled(IDOK));
        CHECK(run.InstallBold());
        d.Click(IDOK);
        CHECK(run.Finish() == IDOK);
        CHECK(run.dir == L"C:\\A\\Quendal-A");
    }
    SUBCASE("selecting a row chooses its site; the highlight follows the location")
    {
        run.sites.push_back(Site(L"Quendal-A", L"C:\\A\\Quendal-A", L"5.10"));
        run.sites.push_back(Site(L"Quendal-B", L"C:\\B\\Quendal-B", L"5.18"));
        run.sites.push_back(Site(L"Quendal-C", L"C:\\C\\Quendal-C", L"5.18"));
        run.sites.push_back(Site(L"Quendal-D", L"C:\\D\\Quendal-D", L"5.18"));
        run.sites.push_back(Site(L"Quendal-E", L"C:\\E\\Quendal-E", L"5.18"));
        run.Start(L"C:\\A\\Quendal-A");
        Test::DialogDriver& d = run.d;
        CHECK(RowsShown(d) == 4);
        CHECK(MainDialog::HighlightedSite() == 0);
        CHECK(run.Caption() == L"Upgrade");
        d.Click(kNew); // a new site: the location is evaluated again, no site highlighted
        d.SelectRow(kSiteList, 2);
        CHECK(MainDialog::HighlightedSite() == 2);
        CHECK(d.Checked(kExisting));
        CHECK(run.Location() == L"C:\\C\\Quendal-C");
        CHECK(run.Caption() == L"Replace");
        CHECK(d.Enabled(IDOK));
        // The list's own selection is always cleared: only the highlight shows.
        CHECK(SendMessageW(d.Item(kSiteList), LVM_GETSELECTEDCOUNT, 0, 0) == 0);
        d.Type(kLocation, L"c:\\a\\quendal-a");
        CHECK(MainDialog::HighlightedSite() == 0);
        CHECK(run.Caption() == L"Upgrade");
        // The highlighted row is drawn in the selection colours.
        RECT row = {};
        row.left = LVIR_BOUNDS;
        REQUIRE(SendMessageW(d.Item(kSiteList), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
        RedrawWindow(d.Item(kSiteList), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        // The list paints on the dialog's thread: look until it has.
        COLORREF highlighted = CLR_INVALID, other = CLR_INVALID;
        for (int i = 0; i < 100 && highlighted != GetSysColor(COLOR_HIGHLIGHT); ++i, Sleep(50)) {
            HDC dc = GetDC(d.Item(kSiteList));
            highlighted = GetPixel(dc, row.right - 3, (row.top + row.bottom) / 2);
            other = GetPixel(dc, row.right - 3, (row.top + row.bottom) / 2 + (row.bottom - row.top));
            ReleaseDC(d.Item(kSiteList), dc);
        }
        CHECK(highlighted == GetSysColor(COLOR_HIGHLIGHT));
        CHECK(other == GetSysColor(COLOR_BTNFACE));
        // A new named site that is not installed: no highlight.
        d.Type(kLocation, L"C:\\X\\Quendal-X");
        CHECK(MainDialog::HighlightedSite() == -1);
        CHECK(d.Checked(kNewNamed));
        // Back to an installed site: with no site in the location, the first row.
        d.Click(kExisting);
        CHECK(MainDialog::HighlightedSite() == 0);
        CHECK(run.Location() == L"C:\\A\\Quendal-A");
        CHECK(run.Caption() == L"Upgrade");
    }
}

TEST_CASE("main dialog: first size and place: 80 dialog units taller, centred in the work area")
{
    DialogRun run;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    Test::DialogDriver& d = run.d;
    RECT work;
    REQUIRE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    // The template's size as a window, then the growth the dialog gives itself.
    RECT templateSize = {0, 0, 289, 262}, growth = {0, 0, 0, 80};
    MapDialogRect(d.Window(), &templateSize);
    MapDialogRect(d.Window(), &growth);
    AdjustWindowRectEx(&templateSize, 0x92CD0040 & ~WS_VISIBLE, FALSE, 0x00040000);
    const LONG h = templateSize.bottom - templateSize.top;
    LONG expected = h + growth.bottom;
    if (expected > (work.bottom - work.top) * 7 / 9)
        expected = (work.bottom - work.top) * 7 / 9;
    if (expected < h)
        expected = h;
    const RECT r = d.WindowRect();
    CHECK(r.bottom - r.top == expected);
    CHECK(r.right - r.left == templateSize.right - templateSize.left);
    CHECK(r.left == (work.left + work.right) / 2 - (r.right - r.left) / 2);
    CHECK(r.top == (work.top + work.bottom) / 2 - (r.bottom - r.top) / 2);
}

TEST_CASE("main dialog: it scales with the system's DPI")
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    // A run at a chosen DPI must really have it, or its checks are those of 100 %.
    const std::wstring chosen = Test::Env(L"QUENDAL_LOG_PIXELS");
    if (!chosen.empty())
        REQUIRE(dpi == std::stoi(chosen));
    DialogRun run;
    run.sites.push_back(Site(L"Quendal-A", L"C:\\A\\Quendal-A", L"5.10"));
    run.sites.push_back(Site(L"Quendal-B", L"C:\\B\\Quendal-B", L"5.18"));
    run.Start(L"C:\\A\\Quendal-A");
    // The template's width grows with the DPI: about 434 pixels at 96.
    RECT r = {0, 0, 289, 262};
    MapDialogRect(run.d.Window(), &r);
    const double expected = 289.0 * 1.5 * dpi / 96;
    CHECK(r.right > expected * 0.85);
    CHECK(r.right < expected * 1.15);
    // Every control inside the client area, the list shows both sites and
    // each of its rows is at least as high as the font.
    const RECT client = run.d.ClientRect();
    for (int id : {int(Ids::kPackageLink), int(Ids::kWebLink), kViewer, kAgreement, kExisting, kSiteList, kNew, kNewDefault,
                   kNewNamed, kSiteName, int(Ids::kLocationLink), kLocation, kRunPanel, IDOK, IDCANCEL}) {
        CAPTURE(id);
        const RECT item = run.d.ItemRect(id);
        CHECK(item.left >= 0);
        CHECK(item.right <= client.right);
        CHECK(item.bottom <= client.bottom);
    }
    CHECK(RowsShown(run.d) == 2);
    RECT row = {};
    row.left = LVIR_BOUNDS;
    REQUIRE(SendMessageW(run.d.Item(kSiteList), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)));
    LOGFONTW font = {};
    GetObjectW(run.NormalFont(), sizeof(font), &font);
    CHECK(row.bottom - row.top >= std::abs(font.lfHeight));
}

TEST_CASE("main dialog: resizing keeps the buttons centred and gives the agreement the height")
{
    DialogRun run;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    Test::DialogDriver& d = run.d;
    const RECT outer = d.WindowRect();
    const RECT viewer = d.ItemRect(kViewer), check = d.ItemRect(kAgreement), client = d.ClientRect();
    const RECT location = d.ItemRect(kLocation);
    d.Resize(outer.right - outer.left + 120, outer.bottom - outer.top + 80);
    const RECT bigger = d.ClientRect();
    CHECK(bigger.right == client.right + 120);
    const RECT ok = d.ItemRect(IDOK), cancel = d.ItemRect(IDCANCEL);
    const LONG middle = bigger.right / 2;
    CHECK(ok.right < middle);
    CHECK(cancel.left > middle);
    CHECK(std::abs((middle - ok.right) - (cancel.left - middle)) <= 2); // a pair around the middle
    const RECT viewer2 = d.ItemRect(kViewer), check2 = d.ItemRect(kAgreement);
    CHECK(viewer2.bottom - viewer2.top == viewer.bottom - viewer.top + 80);
    CHECK(viewer2.right - viewer2.left == viewer.right - viewer.left + 120);
    CHECK(check2.top == check.top + 80);
    // The location field keeps its left edge and its distances from the right
    // and bottom edges: it stretches with the width.
    const RECT location2 = d.ItemRect(kLocation);
    CHECK(location2.left == location.left);
    CHECK(bigger.right - location2.right == client.right - location.right);
    CHECK(bigger.bottom - location2.bottom == client.bottom - location.bottom);
    // Never smaller than 240 x 240 dialog units of client area.
    d.Resize(50, 50);
    RECT minimum = {0, 0, 240, 240};
    MapDialogRect(d.Window(), &minimum);
    const RECT small = d.ClientRect();
    CHECK(small.right >= minimum.right);
    CHECK(small.bottom >= minimum.bottom);
    CHECK(small.right < minimum.right + 20); // and that is the minimum, not some other size
}

TEST_CASE("main dialog: the package contents window opens once from the link")
{
    DialogRun run;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    HWND link = run.d.Item(kPackageLink);
    SendMessageW(link, WM_KEYDOWN, VK_SPACE, 0);
    HWND contents = Test::WaitForWindow(L"Korvane Quendal 5.18 Package Contents", 5000);
    REQUIRE(contents != nullptr);
    CHECK(GetWindow(contents, GW_OWNER) == run.d.Window());
    SendMessageW(link, WM_KEYDOWN, VK_SPACE, 0);
    CHECK(FindWindowExW(nullptr, contents, nullptr, L"Korvane Quendal 5.18 Package Contents") == nullptr);
    SendMessageW(contents, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK_FALSE(IsWindow(contents));
    SendMessageW(link, WM_KEYDOWN, VK_SPACE, 0);
    CHECK(Test::WaitForWindow(L"Korvane Quendal 5.18 Package Contents", 5000) != nullptr);
}

namespace {

DWORD WINAPI NullDataDialog(void* out)
{
    auto* error = static_cast<std::exception_ptr*>(out);
    try {
        WWLib::LoadProcessRichEdit();
        INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(MainDialog::kTemplateId), nullptr,
                                    &MainDialog::DialogProc, 0);
        UiBoundary::SetModalDialog(nullptr);
        UiBoundary::RethrowPending();
        return static_cast<DWORD>(r);
    } catch (...) {
        *error = std::current_exception();
    }
    return 0;
}

} // namespace

TEST_CASE("main dialog: a null record ends the dialog, and the exception comes out after it")
{
    std::exception_ptr error;
    HANDLE thread = CreateThread(nullptr, 0, &NullDataDialog, &error, 0, nullptr);
    REQUIRE(WaitForSingleObject(thread, 15000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    REQUIRE(error);
    CHECK_THROWS_WITH_AS(std::rethrow_exception(error), "lParam must point to a Data", StrInvalidArgument);
}

namespace {

// The folder browser's tree, and the name of one of its items.
HWND BrowserTree(HWND browser)
{
    return FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
}

std::wstring ItemText(HWND tree, HTREEITEM item)
{
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    return item && SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)) ? std::wstring(text)
                                                                                    : std::wstring();
}

HTREEITEM TreeItem(HWND tree, UINT which, HTREEITEM from)
{
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, which, reinterpret_cast<LPARAM>(from)));
}

// The name of the item selected in the browser's tree ("" for none).
std::wstring TreeSelection(HWND browser)
{
    HWND tree = BrowserTree(browser);
    return tree ? ItemText(tree, TreeItem(tree, TVGN_CARET, nullptr)) : std::wstring();
}

// Reads a folder's list once. Wine's browser finds a path's item in its tree
// by comparing the shell's identifiers byte for byte, last-access time
// included; the file system moves that time on the first read after a
// change, so a folder made or changed just before, whose time the browser
// itself moves while it fills the tree, may never match
// (docs/wine-differences.md). After one read the time stays.
void ReadFolderOnce(const wchar_t* path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((std::wstring(path) + L"\\*").c_str(), &fd);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    while (FindNextFileW(h, &fd)) {
    }
    FindClose(h);
}

// Waits for the browser to select its starting location: the shell fills the
// tree on the browser's thread, which takes seconds when the machine is busy.
bool StartsAt(HWND browser, const std::wstring& start)
{
    std::wstring seen;
    for (const DWORD begin = GetTickCount(); (seen = TreeSelection(browser)) != start; Sleep(100)) {
        if (GetTickCount() - begin > 30000) {
            MESSAGE("the browser did not start at \"" << Test::Narrow(start) << "\" but at \"" << Test::Narrow(seen)
                                                       << "\"");
            return false;
        }
    }
    return true;
}

// Chooses the folder of that name beside the selected one as a user does, by
// its item in the tree.
bool ChooseInBrowser(HWND browser, const std::wstring& name)
{
    HWND tree = BrowserTree(browser);
    HTREEITEM item = TreeItem(tree, TVGN_CHILD, TreeItem(tree, TVGN_PARENT, TreeItem(tree, TVGN_CARET, nullptr)));
    while (item && ItemText(tree, item) != name)
        item = TreeItem(tree, TVGN_NEXT, item);
    if (!item) {
        MESSAGE("no \"" << Test::Narrow(name) << "\" beside the selected folder in the browser");
        return false;
    }
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    return TreeSelection(browser) == name;
}

} // namespace

TEST_CASE("main dialog: the Location link opens the folder browser at the location; cancelled, the location stays")
{
    CreateDirectoryW(L"C:\\Browse", nullptr);
    CreateDirectoryW(L"C:\\Browse\\Korvane Quendal", nullptr);
    CreateDirectoryW(L"C:\\Browse\\Quendal-Picked", nullptr);
    for (const wchar_t* folder : {L"C:\\Browse", L"C:\\Browse\\Korvane Quendal", L"C:\\Browse\\Quendal-Picked"})
        ReadFolderOnce(folder);
    DialogRun run;
    run.Start(L"C:\\Browse\\Korvane Quendal");
    // The link opens the browser modally on the dialog's thread: post, don't wait.
    PostMessageW(run.d.Item(Ids::kLocationLink), WM_KEYDOWN, VK_SPACE, 0);
    HWND browser = Test::WaitForWindow(L"Browse for Folder", 15000);
    REQUIRE(browser != nullptr);
    CHECK(GetWindow(browser, GW_OWNER) == run.d.Window());
    bool titled = false;
    for (HWND c = GetWindow(browser, GW_CHILD); c && !titled; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t text[128] = {};
        GetWindowTextW(c, text, 128);
        titled = std::wstring(text) == L"Please Select Quendal Install Directory";
    }
    CHECK(titled);
    CHECK(StartsAt(browser, L"Korvane Quendal"));
    PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 100 && IsWindow(browser); ++i)
        Sleep(50);
    CHECK_FALSE(IsWindow(browser));
    CHECK(run.Location() == L"C:\\Browse\\Korvane Quendal");
    CHECK(run.d.Enabled(IDCANCEL)); // the dialog goes on

    // Again, and a folder chosen in the browser becomes the location, and
    // the site choice follows it.
    PostMessageW(run.d.Item(Ids::kLocationLink), WM_KEYDOWN, VK_SPACE, 0);
    browser = Test::WaitForWindow(L"Browse for Folder", 15000);
    REQUIRE(browser != nullptr);
    const wchar_t picked[] = L"C:\\Browse\\Quendal-Picked";
    CHECK(StartsAt(browser, L"Korvane Quendal"));
    CHECK(ChooseInBrowser(browser, L"Quendal-Picked"));
    PostMessageW(browser, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(browser); ++i)
        Sleep(50);
    CHECK_FALSE(IsWindow(browser));
    CHECK(run.Location() == picked);
    CHECK(run.d.Checked(kNewNamed));
    CHECK(run.d.Text(kSiteName) == L"Picked");
    run.d.Click(IDCANCEL);
    CHECK(run.Finish() == IDCANCEL);
    RemoveDirectoryW(L"C:\\Browse\\Quendal-Picked");
    RemoveDirectoryW(L"C:\\Browse\\Korvane Quendal");
    RemoveDirectoryW(L"C:\\Browse");
}

namespace {

// The identifiers of the controls that Tab visits, in order, from the first one.
std::string TabOrder(HWND dlg)
{
    std::string ids;
    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    for (HWND c = first; c && ids.size() < 400;) {
        ids += (ids.empty() ? "" : " ") + std::to_string(GetDlgCtrlID(c));
        c = GetNextDlgTabItem(dlg, c, FALSE);
        if (c == first)
            break;
    }
    return ids;
}

bool StillRunning(const DialogRun& run)
{
    return WaitForSingleObject(run.thread, 300) == WAIT_TIMEOUT;
}

} // namespace

TEST_CASE("main dialog: the keyboard: the tab order, and Enter presses Install only while it is enabled")
{
    DialogRun run;
    SUBCASE("no sites: the links, the agreement, the new-site choices, the location, the buttons")
    {
        run.Start(L"C:\\Program Files\\Korvane Quendal");
        HWND dlg = run.d.Window();
        CHECK(SendMessageW(dlg, DM_GETDEFID, 0, 0) == MAKELRESULT(IDOK, DC_HASDEFID));
        // Each group of choices is entered at its checked button (a checked
        // radio button takes the tab stop); Install is disabled until the
        // agreement is accepted, so Tab skips it.
        CHECK(TabOrder(dlg) == "1006 1002 1003 1004 1014 1015 1017 1005 1001 1010 2");
        // Enter in the agreement or in the location does not install what was not agreed to.
        PostMessageW(run.d.Item(kViewer), WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(run.d.Item(kViewer), WM_CHAR, L'\r', 0);
        PostMessageW(run.d.Item(kLocation), WM_KEYDOWN, VK_RETURN, 0);
        CHECK(StillRunning(run));
        // Nor does a command that names Install while it is disabled, from
        // wherever it comes.
        PostMessageW(run.d.Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        CHECK(StillRunning(run));
        run.d.Click(kAgreement);
        REQUIRE(run.d.Enabled(IDOK));
        CHECK(TabOrder(dlg) == "1006 1002 1003 1004 1014 1015 1017 1005 1001 1010 1 2");
        PostMessageW(run.d.Item(kLocation), WM_KEYDOWN, VK_RETURN, 0);
        CHECK(run.Finish() == IDOK);
    }
    SUBCASE("with a default site: the existing-site choice and the list; the default-site choice is gone")
    {
        run.accepted = true;
        run.sites.push_back(Site(L"Quendal", L"C:\\Old\\Korvane Quendal", L"5.10"));
        run.Start(L"C:\\Old\\Korvane Quendal");
        CHECK(TabOrder(run.d.Window()) == "1006 1002 1003 1004 1013 1012 1016 1017 1005 1001 1010 1 2");
        PostMessageW(run.d.Item(kSiteName), WM_KEYDOWN, VK_RETURN, 0);
        CHECK(run.Finish() == IDOK);
        CHECK(run.dir == L"C:\\Old\\Korvane Quendal");
    }
}

TEST_CASE("main dialog: the agreement's background is the viewer colour, as near as the screen shows it")
{
    DialogRun run;
    run.Start(L"C:\\Program Files\\Korvane Quendal");
    HWND viewer = run.d.Item(kViewer);
    HDC dc = GetWindowDC(run.d.Window());
    const COLORREF expected = GetNearestColor(dc, ViewerBackgroundColour());
    ReleaseDC(run.d.Window(), dc);
    // Setting a background answers the one in use.
    CHECK(static_cast<COLORREF>(SendMessageW(viewer, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3))) == expected);
    SendMessageW(viewer, EM_SETBKGNDCOLOR, 0, expected);
}
