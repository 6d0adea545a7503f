#include "DialogDriver.h"
#include <commctrl.h>
#include <vector>

namespace Test {

HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50) {
        HWND h = FindWindowW(nullptr, title.c_str());
        if (h && IsWindowVisible(h))
            return h;
        if (waited >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

void DialogDriver::Click(int id) const
{
    SendMessageW(Item(id), BM_CLICK, 0, 0);
}

void DialogDriver::Type(int id, const std::wstring& text) const
{
    SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogDriver::PressEscape() const
{
    // Through the queue, where the dialog's own loop turns it into IDCANCEL.
    PostMessageW(dlg_, WM_KEYDOWN, VK_ESCAPE, 0);
}

void DialogDriver::CloseBox() const
{
    PostMessageW(dlg_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DialogDriver::SelectRow(int id, int row) const
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(Item(id), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void DialogDriver::Resize(int width, int height) const
{
    SetWindowPos(dlg_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring DialogDriver::Title() const
{
    wchar_t buf[512] = {};
    GetWindowTextW(dlg_, buf, 512);
    return buf;
}

std::wstring DialogDriver::Text(int id) const
{
    std::vector<wchar_t> buf(32768, L'\0');
    LRESULT n = SendMessageW(Item(id), WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return std::wstring(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool DialogDriver::Checked(int id) const
{
    return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool DialogDriver::Enabled(int id) const
{
    return IsWindowEnabled(Item(id)) != FALSE;
}

bool DialogDriver::Visible(int id) const
{
    return (GetWindowLongPtrW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

HFONT DialogDriver::Font(int id) const
{
    return reinterpret_cast<HFONT>(SendMessageW(Item(id), WM_GETFONT, 0, 0));
}

RECT DialogDriver::ItemRect(int id) const
{
    RECT r = {};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, dlg_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT DialogDriver::ClientRect() const
{
    RECT r = {};
    GetClientRect(dlg_, &r);
    return r;
}

RECT DialogDriver::WindowRect() const
{
    RECT r = {};
    GetWindowRect(dlg_, &r);
    return r;
}

} // namespace Test
