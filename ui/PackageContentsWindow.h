#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>

// The modeless tool window that shows the package description (RTF resource
// 130), opened from the main dialog's "What's in the package" link. There is
// at most one: opening it again focuses the open one. When it closes it
// tells its owner with kClosedMessage, and the owner calls Closed().
class PackageContentsWindow {
public:
    static constexpr UINT kClosedMessage = WM_USER + 1;
    static constexpr WORD kDescriptionResource = 130;

    // Focuses the open window, or makes one from the template, owned by
    // `owner`. The template bytes must outlive the window.
    static HWND Open(HWND owner, const std::vector<std::uint8_t>& dialogTemplate);
    static HWND Handle();
    static void Closed();

    // The smallest size the user may give it: 150 x 100 dialog units of
    // client area, with the frame and the small caption.
    static SIZE MinimumTrackSize(HWND window);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static INT_PTR HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};
