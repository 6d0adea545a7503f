#include "MainDialog.h"
#include "AgreementPanel.h"
#include "DlgTmpl.h"
#include "PackageContentsWindow.h"
#include "RichText.h"
#include "SubWnd_AnchorCtrl.h"
#include "SubWnd_HyperLink.h"
#include "SubWnd_RichView.h"
#include "UiBoundary.h"
#include "WindowPlacement.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../nocrtlib/WException.h"
#include "../wwlib/CanonicalPath.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Version.h"
#include "../wwlib/Product.h"
#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>
#include <vector>

namespace {

using Ids = MainDialog::ControlId;
constexpr int kLocation = Ids::kLocation, kWebLink = Ids::kWebLink, kLocationLink = Ids::kLocationLink,
              kPackageLink = Ids::kPackageLink, kSeparatorTop = Ids::kSeparatorTop,
              kSeparatorAgreement = Ids::kSeparatorAgreement, kSeparatorButtons = Ids::kSeparatorButtons,
              kNamePrefixLabel = Ids::kNamePrefixLabel, kRunControlPanel = Ids::kRunControlPanel,
              kSiteList = Ids::kSiteList, kExistingSite = Ids::kExistingSite, kNewSite = Ids::kNewSite,
              kNewDefaultSite = Ids::kNewDefaultSite, kNewNamedSite = Ids::kNewNamedSite, kSiteName = Ids::kSiteName;

const wchar_t kDefaultSiteName[] = L"Quendal";
const wchar_t kNamedPrefix[] = L"Quendal-";
constexpr std::size_t kNamedPrefixLength = 8;
const wchar_t kCaptionInstall[] = L"Install";
const wchar_t kCaptionUpgrade[] = L"Upgrade";
const wchar_t kCaptionReplace[] = L"Replace";

// The dialog's state: there is only ever one main dialog.
struct DialogState {
    int highlighted = -1;
    bool updating = false;
    // Held here as well as by the dialog's layer, so that it lives until
    // WM_NCDESTROY even when the initialisation fails before attaching it.
    RefPtr<SubWnd_AnchorCtrl> layout;
    HFONT boldFont = nullptr;
    std::vector<std::uint8_t> contentsTemplate;
    HWND locationTip = nullptr; // the location field's tooltip: why Install is disabled
    WString locationProblem;
};
DialogState g_state;

// Pending actions of the message being handled.
struct Pending {
    bool rewriteDefault = false;
    bool rewriteNamed = false;
    bool reevaluate = false;
};

MainDialog::Data& DataOf(HWND dlg)
{
    return *reinterpret_cast<MainDialog::Data*>(GetWindowLongPtrW(dlg, DWLP_USER));
}

bool Checked(HWND dlg, int id)
{
    return IsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

bool Enabled(HWND dlg, int id)
{
    return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE;
}

void SetCaption(HWND dlg, const wchar_t* caption)
{
    SetDlgItemTextW(dlg, IDOK, caption);
}

// "Upgrade" when this installer is newer than the site, else "Replace".
const wchar_t* CaptionFor(const MainDialog::Site& site)
{
    return WWLib::CompareVersions(Product::kVersion, site.version) > 0 ? kCaptionUpgrade : kCaptionReplace;
}

WString LastFolder(const WString& dir)
{
    return SplitAtLast(dir, L'\\').tail;
}

bool IsNamedSiteFolder(const WString& folder)
{
    return folder.size() >= kNamedPrefixLength && StartsWithNoCase(folder, kNamedPrefix);
}

// Checks an option and unchecks the other of its group: existing or new
// site (1013, 1014), new default or named site (1015, 1016).
void Choose(HWND dlg, int id)
{
    if (id == kExistingSite || id == kNewSite)
        CheckRadioButton(dlg, kExistingSite, kNewSite, id);
    else
        CheckRadioButton(dlg, kNewDefaultSite, kNewNamedSite, id);
}

void SelectRow(HWND dlg, int row)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendDlgItemMessageW(dlg, kSiteList, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void ClearHighlight(HWND dlg)
{
    if (g_state.highlighted >= 0) {
        g_state.highlighted = -1;
        InvalidateRect(GetDlgItem(dlg, kSiteList), nullptr, TRUE);
    }
}

int FindSite(const MainDialog::SiteList& sites, const WString& dir, const WString& folder)
{
    for (std::size_t i = 0; i < sites.size(); ++i)
        if (EqualNoCase(sites[i].installDir, dir) || EqualNoCase(sites[i].siteName, folder))
            return static_cast<int>(i);
    return -1;
}

int FindDefaultSite(const MainDialog::SiteList& sites)
{
    for (std::size_t i = 0; i < sites.size(); ++i)
        if (EqualNoCase(sites[i].siteName, kDefaultSiteName))
            return static_cast<int>(i);
    return -1;
}

// Runs with `updating` set, so that the dialog's own changes raise nothing.
class Updating {
public:
    Updating() : was_(g_state.updating) { g_state.updating = true; }
    ~Updating() { g_state.updating = was_; }
    Updating(const Updating&) = delete;
    Updating& operator=(const Updating&) = delete;

private:
    bool was_;
};

// The location field as the tool of its tooltip, showing `text`.
TOOLINFOW LocationTool(HWND dlg, const wchar_t* text)
{
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dlg;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dlg, kLocation));
    tool.lpszText = const_cast<wchar_t*>(text);
    return tool;
}

// Shows why the location cannot be installed into, or nothing.
void ShowLocationProblem(HWND dlg, const WString& problem)
{
    g_state.locationProblem = problem;
    if (!g_state.locationTip)
        return;
    TOOLINFOW tool = LocationTool(dlg, problem.c_str());
    SendMessageW(g_state.locationTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(g_state.locationTip, TTM_ACTIVATE, problem.empty() ? FALSE : TRUE, 0);
}

// The location as the installation takes it: the canonical form of an
// absolute path (as the command line's -installDir=), and why there is none
// or why no installation may go there. The location becomes that form.
WString CheckLocation(const MainDialog::Data& data)
{
    const WString& typed = *data.installDir;
    if (typed.empty())
        return L"Enter the folder to install into.";
    if (!IsAbsolutePath(typed))
        return L"Enter the whole path of the folder, such as C:\\Program Files\\Korvane Quendal.";
    WString canonical;
    WString why = WWLib::CanonicalPath(typed, canonical);
    if (!why.empty())
        return L"This is no folder to install into: " + why + L".";
    if (data.refusedTarget) {
        why = data.refusedTarget(canonical);
        if (!why.empty())
            return L"No installation may go into this folder: " + why + L".";
    }
    *data.installDir = canonical;
    return WString();
}

void LocationChanged(HWND dlg, bool fromUser)
{
    MainDialog::Data& data = DataOf(dlg);
    const MainDialog::SiteList& sites = *data.sites;
    Updating updating;
    if (fromUser) {
        WString text;
        if (GetWindowTextString(GetDlgItem(dlg, kLocation), text))
            *data.installDir = text;
    }
    const WString problem = CheckLocation(data);
    ShowLocationProblem(dlg, problem);
    const WString folder = LastFolder(*data.installDir);
    const bool accepted = Checked(dlg, kAgreementCheckId);
    int i = FindSite(sites, *data.installDir, folder);
    int shown = -1; // the site the choice comes down to, in cases 4 and 5
    bool enable;
    if (i >= 0) {
        if (fromUser) {
            Choose(dlg, kExistingSite);
            SelectRow(dlg, i);
            SetCaption(dlg, CaptionFor(sites[i]));
        }
        enable = i == g_state.highlighted && Checked(dlg, kExistingSite) && accepted;
        shown = i;
    } else if (!IsNamedSiteFolder(folder)) {
        const int d = FindDefaultSite(sites);
        if (d >= 0) {
            if (fromUser) {
                Choose(dlg, kExistingSite);
                SelectRow(dlg, d);
                SetCaption(dlg, CaptionFor(sites[d]));
            }
            enable = Checked(dlg, kExistingSite) && accepted;
            shown = d;
        } else {
            if (fromUser) {
                if (Enabled(dlg, kNewSite))
                    Choose(dlg, kNewSite);
                if (Enabled(dlg, kNewDefaultSite))
                    Choose(dlg, kNewDefaultSite);
                SetCaption(dlg, kCaptionInstall);
            }
            enable = Checked(dlg, kNewSite) && Checked(dlg, kNewDefaultSite) && accepted;
            ClearHighlight(dlg);
        }
    } else {
        if (fromUser) {
            if (Enabled(dlg, kNewSite))
                Choose(dlg, kNewSite);
            if (Enabled(dlg, kNewNamedSite))
                Choose(dlg, kNewNamedSite);
            SetDlgItemTextW(dlg, kSiteName, folder.substr(kNamedPrefixLength).c_str());
            SetCaption(dlg, kCaptionInstall);
        }
        enable = Checked(dlg, kNewSite) && Checked(dlg, kNewNamedSite) && accepted &&
                 folder.size() > kNamedPrefixLength;
        ClearHighlight(dlg);
    }
    if (shown >= 0 && Enabled(dlg, kNewDefaultSite) && !Checked(dlg, kNewSite)) {
        CheckDlgButton(dlg, kNewDefaultSite, BST_UNCHECKED);
        CheckDlgButton(dlg, kNewNamedSite, BST_UNCHECKED);
    }
    enable = enable && problem.empty();
    HWND install = GetDlgItem(dlg, IDOK);
    EnableWindow(install, enable);
    auto font = enable ? reinterpret_cast<WPARAM>(g_state.boldFont) : static_cast<WPARAM>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    SendMessageW(install, WM_SETFONT, font, TRUE);
}

// Shows a new location; the field's change notification is ignored and the
// rule runs as not from the user.
void ShowLocation(HWND dlg, const WString& dir)
{
    {
        Updating updating;
        SetDlgItemTextW(dlg, kLocation, dir.c_str());
    }
    LocationChanged(dlg, false);
}

void RewriteForDefaultSite(HWND dlg)
{
    if (!Checked(dlg, kNewSite) || !Checked(dlg, kNewDefaultSite))
        return;
    const MainDialog::Data& data = DataOf(dlg);
    WString& dir = *data.installDir;
    SplitPath split = SplitAtLast(dir, L'\\');
    if (!IsAbsolutePath(dir) && IsAbsolutePath(data.newSiteParent))
        dir = PathJoin(data.newSiteParent, Product::kDefaultFolder);
    else if (split.tail.empty() || StartsWithNoCase(split.tail, kNamedPrefix))
        dir = PathJoin(split.head, Product::kDefaultFolder);
    ShowLocation(dlg, dir);
}

void RewriteForNamedSite(HWND dlg)
{
    if (!Checked(dlg, kNewSite) || !Checked(dlg, kNewNamedSite))
        return;
    WString name;
    GetWindowTextString(GetDlgItem(dlg, kSiteName), name);
    name = WString(kNamedPrefix) + name;
    const MainDialog::Data& data = DataOf(dlg);
    WString& dir = *data.installDir;
    SplitPath split = SplitAtLast(dir, L'\\');
    if (!IsAbsolutePath(dir) && IsAbsolutePath(data.newSiteParent))
        dir = PathJoin(data.newSiteParent, name);
    else if (split.tail.empty() || StartsWithNoCase(split.tail, kDefaultSiteName) ||
             StartsWithNoCase(split.tail, Product::kDefaultFolder))
        dir = PathJoin(split.head, name);
    else
        dir = PathJoin(dir, name);
    ShowLocation(dlg, dir);
}

void ExistingSiteClicked(HWND dlg)
{
    SetCaption(dlg, kCaptionReplace);
    if (g_state.updating)
        return;
    MainDialog::Data& data = DataOf(dlg);
    const MainDialog::SiteList& sites = *data.sites;
    if (!sites.size())
        return;
    int i = FindSite(sites, *data.installDir, LastFolder(*data.installDir));
    if (i >= 0) {
        Updating updating;
        SelectRow(dlg, i);
    } else {
        i = FindDefaultSite(sites);
        if (i < 0)
            i = 0;
        SelectRow(dlg, i);
    }
    if (WWLib::CompareVersions(Product::kVersion, sites[i].version) > 0)
        SetCaption(dlg, kCaptionUpgrade);
}

// The folder browser's callback: it starts at the current location.
int CALLBACK BrowseCallbackProc(HWND hwnd, UINT msg, LPARAM, LPARAM data)
{
    return UiBoundary::Run(0, [&] {
        if (msg == BFFM_INITIALIZED)
            SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    });
}

void BrowseForLocation(HWND dlg)
{
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator)
        return;
    const WString& dir = *DataOf(dlg).installDir;
    std::size_t size = (dir.size() > MAX_PATH ? dir.size() : MAX_PATH) + 100;
    std::vector<wchar_t> buffer(size, L'\0');
    for (std::size_t i = 0; i < dir.size(); ++i)
        buffer[i] = dir[i];
    BROWSEINFOW bi = {};
    bi.hwndOwner = dlg;
    bi.pszDisplayName = buffer.data();
    bi.lpszTitle = L"Please Select Quendal Install Directory";
    bi.lpfn = &BrowseCallbackProc;
    bi.lParam = reinterpret_cast<LPARAM>(buffer.data());
    LPITEMIDLIST chosen = SHBrowseForFolderW(&bi);
    UiBoundary::RethrowPending();
    if (chosen) {
        std::vector<wchar_t> path(size > MAX_PATH ? size : MAX_PATH, L'\0');
        if (SHGetPathFromIDListW(chosen, path.data()))
            SetDlgItemTextW(dlg, kLocation, path.data());
        allocator->Free(chosen);
    }
    allocator->Release();
}

void OpenPackageContents(HWND dlg)
{
    PackageContentsWindow::Open(dlg, g_state.contentsTemplate);
}

void RegisterAnchors(HWND dlg, int listHeightDlu, bool withList)
{
    struct Row {
        int id, left, top, right, bottom, invalidate;
    };
    const int b1 = 100 + listHeightDlu;
    const Row rows[] = {
        {IDOK, -1, -1, -1, 7, 0},
        {IDCANCEL, -1, -1, -1, 7, 0},
        {kSeparatorButtons, 1, -1, 1, 27, 1},
        {kRunControlPanel, -1, -1, -1, 32, 0},
        {kLocationLink, -1, -1, -1, 47, 0},
        {kLocation, 50, -1, 7, 47, 0},
        {kNewNamedSite, -1, -1, -1, 64, 0},
        {kNamePrefixLabel, -1, -1, -1, 64, 0},
        {kSiteName, 157, -1, 7, 64, 0},
        {kNewDefaultSite, -1, -1, -1, 76, 0},
        {kNewSite, -1, -1, -1, 88, 0},
        {kSiteList, -1, -1, -1, 100, -1},
        {kExistingSite, -1, -1, -1, b1, 0},
        {kSeparatorAgreement, 1, -1, 1, b1 + 16, 1},
        {kAgreementCheckId, -1, -1, -1, b1 + 20, 0},
        {kAgreementViewerId, 7, 23, 7, b1 + 35, 0},
        {kSeparatorTop, 1, 18, 1, -1, 1},
        {kPackageLink, 7, 5, -1, -1, 0},
        {kWebLink, -1, 5, 7, -1, 0},
    };
    for (const Row& r : rows) {
        if (r.id == kSiteList && !withList)
            continue;
        RECT mapped = MapDialogRectKeepSigns(RECT{r.left, r.top, r.right, r.bottom}, dlg);
        g_state.layout->SetAnchor(r.id, AnchorRecord{static_cast<int>(mapped.left), static_cast<int>(mapped.top),
                                                     static_cast<int>(mapped.right), static_cast<int>(mapped.bottom),
                                                     r.invalidate});
    }
}

// Grows the list one dialog unit at a time until it shows min(sites, 4)
// rows; its final height in dialog units.
int SizeSiteList(HWND dlg, std::size_t siteCount)
{
    HWND list = GetDlgItem(dlg, kSiteList);
    RECT r;
    if (!GetWindowRect(list, &r))
        return 12;
    const int width = r.right - r.left;
    const LRESULT wanted = siteCount < 4 ? static_cast<LRESULT>(siteCount) : 4;
    int dlu = 10;
    for (;; ++dlu) {
        if (!SetWindowPos(list, nullptr, 0, 0, width, DluToPixelsY(dlu, dlg), SWP_NOMOVE | SWP_NOZORDER))
            break;
        if (SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0) >= wanted || dlu > 200)
            break;
    }
    return dlu;
}

void FillSiteList(HWND dlg, const MainDialog::SiteList& sites)
{
    HWND list = GetDlgItem(dlg, kSiteList);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    SendMessageW(list, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(face));
    SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(face));
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const int widths[] = {DluToPixelsX(105, dlg), DluToPixelsX(30, dlg)};
    for (int c = 0; c < 2; ++c) {
        LVCOLUMNW col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH;
        col.fmt = LVCFMT_LEFT;
        col.cx = widths[c];
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
    for (std::size_t i = 0; i < sites.size(); ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<wchar_t*>(sites[i].siteName.c_str());
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<wchar_t*>(sites[i].version.c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
    }
}

INT_PTR InitDialog(HWND dlg, LPARAM lp)
{
    if (!lp)
        throw StrInvalidArgument(L"lParam must point to a Data");
    SetWindowLongPtrW(dlg, DWLP_USER, lp);
    MainDialog::Data& data = *reinterpret_cast<MainDialog::Data*>(lp);
    const WString initialDir = *data.installDir;
    g_state = DialogState();

    LOGFONTW lf;
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    lf.lfWeight = FW_BOLD;
    g_state.boldFont = CreateFontIndirectW(&lf);

    HINSTANCE module = GetModuleHandleW(nullptr);
    auto large = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(MainDialog::kLargeIconId), IMAGE_ICON, 0, 0,
                                               LR_DEFAULTSIZE | LR_SHARED));
    auto small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(MainDialog::kSmallIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED));
    if (large)
        SetClassLongPtrW(dlg, GCLP_HICON, reinterpret_cast<LONG_PTR>(large));
    if (small)
        SetClassLongPtrW(dlg, GCLP_HICONSM, reinterpret_cast<LONG_PTR>(small));

    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int h = WindowHeight(dlg), workHeight = work.bottom - work.top;
    int grown = h + DluToPixelsY(80, dlg);
    if (grown > workHeight * 7 / 9)
        grown = workHeight * 7 / 9;
    SetWindowPos(dlg, nullptr, 0, 0, WindowWidth(dlg), grown > h ? grown : h,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOOWNERZORDER);
    CenterWindow(CenterOn::WorkArea, dlg);

    SetWindowTextW(dlg, (WString(Product::kMakerPrefix) + Product::kName + L" " + Product::kVersion + L" Installer").c_str());

    AttachSubWnd(GetDlgItem(dlg, kPackageLink), RefPtr<SubWnd>(new SubWnd_HyperLink));
    AttachSubWnd(GetDlgItem(dlg, kWebLink), RefPtr<SubWnd>(new SubWnd_HyperLink(Product::kWebAddress)));

    HWND viewer = GetDlgItem(dlg, kAgreementViewerId);
    HDC dc = GetWindowDC(dlg);
    COLORREF background = GetNearestColor(dc, ViewerBackgroundColour());
    ReleaseDC(dlg, dc);
    SendMessageW(viewer, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(background));
    StreamRichText(LoadRtfResource(MainDialog::kAgreementResource), viewer, TextFormat::Rich);
    AttachSubWnd(viewer, RefPtr<SubWnd>(new SubWnd_RichView));
    AttachSubWnd(GetDlgItem(dlg, kLocationLink), RefPtr<SubWnd>(new SubWnd_HyperLink));
    // Why Install is disabled for the location typed, on the field itself.
    g_state.locationTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dlg, nullptr,
                                          module, nullptr);
    if (g_state.locationTip) {
        TOOLINFOW tool = LocationTool(dlg, L"");
        SendMessageW(g_state.locationTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(g_state.locationTip, TTM_SETMAXTIPWIDTH, 0, 400);
    }

    CheckDlgButton(dlg, kAgreementCheckId, *data.agreementAccepted ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, kRunControlPanel, *data.runControlPanel ? BST_CHECKED : BST_UNCHECKED);

    g_state.layout = RefPtr<SubWnd_AnchorCtrl>(new SubWnd_AnchorCtrl);

    const MainDialog::SiteList& sites = *data.sites;
    if (FindDefaultSite(sites) >= 0) {
        Choose(dlg, kNewNamedSite);
        HWND defaultOption = GetDlgItem(dlg, kNewDefaultSite);
        SetWindowLongPtrW(defaultOption, GWL_STYLE,
                          GetWindowLongPtrW(defaultOption, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_GROUP | WS_TABSTOP));
        EnableWindow(defaultOption, FALSE);
    }
    int listHeight = 0;
    if (sites.size()) {
        listHeight = SizeSiteList(dlg, sites.size());
        FillSiteList(dlg, sites);
    } else {
        ShowWindow(GetDlgItem(dlg, kSiteList), SW_HIDE);
        EnableWindow(GetDlgItem(dlg, kExistingSite), FALSE);
    }
    RegisterAnchors(dlg, listHeight, sites.size() != 0);
    if (sites.size())
        SelectRow(dlg, 0); // raises the selection notification
    g_state.layout->ApplyAnchors(dlg);
    AttachSubWnd(dlg, RefPtr<SubWnd>(g_state.layout.get()));

    g_state.contentsTemplate = BuildPackageContentsTemplate(Product::kVersion);
    UpdateAcceptState(dlg, g_state.boldFont);
    SetFocus(GetDlgItem(dlg, *data.agreementAccepted ? kLocation : kAgreementViewerId));
    SetDlgItemTextW(dlg, kLocation, initialDir.c_str());
    return FALSE;
}

INT_PTR OnNotify(HWND dlg, const NMHDR& hdr, LPARAM lp)
{
    if (hdr.idFrom != kSiteList)
        return FALSE;
    if (hdr.code == LVN_ITEMCHANGED) {
        const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lp);
        if ((change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_SELECTED)) {
            const int previous = g_state.highlighted;
            g_state.highlighted = change.iItem;
            LVITEMW item = {};
            item.stateMask = LVIS_SELECTED;
            SendMessageW(hdr.hwndFrom, LVM_SETITEMSTATE, static_cast<WPARAM>(change.iItem),
                         reinterpret_cast<LPARAM>(&item));
            if (previous >= 0)
                SendMessageW(hdr.hwndFrom, LVM_REDRAWITEMS, static_cast<WPARAM>(previous), previous);
            if (!g_state.updating) {
                Choose(dlg, kExistingSite);
                const MainDialog::SiteList& sites = *DataOf(dlg).sites;
                SetDlgItemTextW(dlg, kLocation, sites[static_cast<std::size_t>(change.iItem)].installDir.c_str());
            }
        }
    } else if (hdr.code == NM_CUSTOMDRAW) {
        auto& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(lp);
        LONG_PTR result = CDRF_DODEFAULT;
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
        } else if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT &&
                   static_cast<int>(draw.nmcd.dwItemSpec) == g_state.highlighted) {
            draw.clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw.clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
        }
        SetWindowLongPtrW(dlg, DWLP_MSGRESULT, result);
    }
    return TRUE;
}

INT_PTR OnCommand(HWND dlg, WORD id, WORD code)
{
    MainDialog::Data& data = DataOf(dlg);
    Pending pending;
    switch (id) {
    case kExistingSite:
        // The choice moves the highlight; the acceptance and enablement rules
        // run again after it, as after every other choice.
        if (code == BN_CLICKED) {
            ExistingSiteClicked(dlg);
            pending.reevaluate = !g_state.updating;
        }
        break;
    case kNewSite:
        if (code != BN_CLICKED)
            break;
        SetCaption(dlg, kCaptionInstall);
        if (g_state.updating)
            break;
        if (Checked(dlg, kNewNamedSite))
            pending.rewriteNamed = true;
        else if (Checked(dlg, kNewDefaultSite))
            pending.rewriteDefault = true;
        else
            pending.reevaluate = true;
        break;
    case kNewDefaultSite:
    case kNewNamedSite:
        if (code != BN_CLICKED)
            break;
        Choose(dlg, kNewSite);
        SetCaption(dlg, kCaptionInstall);
        if (g_state.updating)
            break;
        (id == kNewDefaultSite ? pending.rewriteDefault : pending.rewriteNamed) = true;
        break;
    case kSiteName:
        if (code == EN_CHANGE && !g_state.updating)
            pending.rewriteNamed = true;
        break;
    case kLocation:
        if (code == EN_CHANGE && !g_state.updating)
            LocationChanged(dlg, true);
        break;
    case kPackageLink:
        if (code == 0)
            OpenPackageContents(dlg);
        break;
    case kLocationLink:
        if (code == 0)
            BrowseForLocation(dlg);
        break;
    case kAgreementCheckId:
        if (code == BN_CLICKED) {
            *data.agreementAccepted = Checked(dlg, kAgreementCheckId);
            UpdateAcceptState(dlg, g_state.boldFont);
            pending.reevaluate = true;
        }
        break;
    case IDOK:
        // Only the enabled button stands for a valid, agreed choice; a command
        // that names it while it is disabled (from a control's Enter, an
        // accessibility tool) is no consent.
        if (code == BN_CLICKED && IsWindowEnabled(GetDlgItem(dlg, IDOK))) {
            *data.runControlPanel = Checked(dlg, kRunControlPanel);
            EndDialog(dlg, IDOK);
        }
        break;
    case IDCANCEL:
        EndDialog(dlg, IDCANCEL);
        break;
    }
    if (pending.rewriteDefault)
        RewriteForDefaultSite(dlg);
    else if (pending.rewriteNamed)
        RewriteForNamedSite(dlg);
    else if (pending.reevaluate)
        LocationChanged(dlg, false);
    return TRUE;
}

INT_PTR HandleMessage(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG)
        return InitDialog(dlg, lp);
    if (!GetWindowLongPtrW(dlg, DWLP_USER))
        return FALSE;
    switch (msg) {
    case WM_SIZE:
        if (g_state.layout && wp != SIZE_MINIMIZED) {
            const int half = LOWORD(lp) / 2;
            g_state.layout->Anchor(IDOK).right = half + DluToPixelsX(3, dlg);
            g_state.layout->Anchor(IDCANCEL).left = half + DluToPixelsX(2, dlg);
            InvalidateRect(dlg, nullptr, FALSE);
        }
        return FALSE;
    case WM_GETMINMAXINFO: {
        NONCLIENTMETRICSW ncm = {};
        ncm.cbSize = sizeof(ncm);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize.x = DluToPixelsX(240, dlg) + 2 * ncm.iBorderWidth + 6;
        info->ptMinTrackSize.y = DluToPixelsY(240, dlg) + ncm.iCaptionHeight + 2 * ncm.iBorderWidth + 7;
        return TRUE;
    }
    case WM_NOTIFY:
        return OnNotify(dlg, *reinterpret_cast<const NMHDR*>(lp), lp);
    case WM_COMMAND:
        return OnCommand(dlg, LOWORD(wp), HIWORD(wp));
    case PackageContentsWindow::kClosedMessage:
        PackageContentsWindow::Closed();
        return TRUE;
    case WM_NCDESTROY:
        g_state.contentsTemplate.clear();
        if (g_state.boldFont)
            DeleteObject(g_state.boldFont);
        g_state.boldFont = nullptr;
        g_state.layout = RefPtr<SubWnd_AnchorCtrl>();
        return FALSE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK MainDialog::DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    // A failure anywhere in the dialog, its initialisation included, ends it.
    if (msg == WM_INITDIALOG)
        UiBoundary::SetModalDialog(dlg);
    return UiBoundary::Run(INT_PTR(FALSE), [&] { return HandleMessage(dlg, msg, wp, lp); });
}

int MainDialog::HighlightedSite()
{
    return g_state.highlighted;
}

WString MainDialog::LocationProblem()
{
    return g_state.locationProblem;
}

INT_PTR MainDialog::Run(Data& data)
{
    struct ModalScope {
        ModalScope() { UiBoundary::SetModalDialog(nullptr); }
        ~ModalScope() { UiBoundary::SetModalDialog(nullptr); }
    } scope;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kTemplateId), nullptr, &DialogProc,
                                     reinterpret_cast<LPARAM>(&data));
    const DWORD error = GetLastError();
    UiBoundary::RethrowPending();
    // A dialog that could not be made was never closed by anyone: a failure,
    // not the administrator's Cancel (202).
    if (result == -1)
        ThrowCallFailed(L"DialogBoxParamW()", error);
    return result;
}
