// Drives the installer's windows for `make screenshots`:
//   screenshot_driver rect TITLE        waits for the window, prints "WxH+X+Y"
//   screenshot_driver type TITLE ID TEXT  types into a control
//   screenshot_driver click TITLE ID    clicks a button
//   screenshot_driver space TITLE ID    presses the space bar on a control (a link)
//   screenshot_driver focus TITLE ID    moves the focus to a control, as Tab would
// Exit code 1 when the window does not appear.
#include "DialogDriver.h"
#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring verb = argv[1];
    HWND window = Test::WaitForWindow(argv[2], 60000);
    if (!window)
        return 1;
    Test::DialogDriver d(window);
    const int id = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 0;
    if (verb == L"rect") {
        Sleep(1500); // let it paint
        RECT r = d.WindowRect();
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    } else if (verb == L"type" && argc > 4) {
        d.Type(id, argv[4]);
    } else if (verb == L"click") {
        d.Click(id);
    } else if (verb == L"space") {
        SendMessageW(d.Item(id), WM_KEYDOWN, VK_SPACE, 0);
    } else if (verb == L"focus") {
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(d.Item(id)), TRUE);
    } else {
        return 2;
    }
    return 0;
}
