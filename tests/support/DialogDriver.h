#pragma once
// Drives a dialog the way a person would, through messages: of this test
// program (run on a thread of its own) or of a child process. Messages that
// carry pointers (the list view's) work only within this process.
#include <windows.h>
#include <string>

namespace Test {

// Waits for a visible top-level window with this title, of any process.
HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs = 30000);

class DialogDriver {
public:
    explicit DialogDriver(HWND dialog) : dlg_(dialog) {}
    HWND Window() const { return dlg_; }
    HWND Item(int id) const { return GetDlgItem(dlg_, id); }

    void Click(int id) const;
    // Replaces the text of an edit field, as typing would (EN_CHANGE follows).
    void Type(int id, const std::wstring& text) const;
    void PressEscape() const;
    void CloseBox() const;
    // Selects a row of a list view: this process only.
    void SelectRow(int id, int row) const;
    // The outer size of the dialog.
    void Resize(int width, int height) const;

    std::wstring Title() const;
    std::wstring Text(int id) const;
    bool Checked(int id) const;
    bool Enabled(int id) const;
    bool Visible(int id) const;
    HFONT Font(int id) const;
    // A control's rectangle in the dialog's client coordinates.
    RECT ItemRect(int id) const;
    RECT ClientRect() const;
    RECT WindowRect() const;

private:
    HWND dlg_;
};

} // namespace Test
