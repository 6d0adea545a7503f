#include "AgreementPanel.h"

bool UpdateAcceptState(HWND dialog, HFONT boldFont)
{
    const bool accepted = IsDlgButtonChecked(dialog, kAgreementCheckId) == BST_CHECKED;
    HWND check = GetDlgItem(dialog, kAgreementCheckId);
    HWND install = GetDlgItem(dialog, IDOK);
    EnableWindow(install, accepted);
    auto normal = static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    auto bold = reinterpret_cast<WPARAM>(boldFont);
    SendMessageW(check, WM_SETFONT, accepted ? normal : bold, TRUE);
    SendMessageW(install, WM_SETFONT, accepted ? bold : normal, TRUE);
    InvalidateRect(check, nullptr, TRUE);
    InvalidateRect(install, nullptr, TRUE);
    return accepted;
}
