// The configuration program: a window naming the configuration it edits.
#include "ForcedExit.h"
#include "WindowProgram.h"
#include "../nocrtlib/CallbackBoundary.h"
#include <windows.h>
#include <string>

namespace {

// The window procedure is called by Windows; what it throws waits here.
CallbackBoundary g_boundary;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return g_boundary.Run(LRESULT(msg == WM_CREATE ? -1 : 0), [&]() -> LRESULT {
        if (msg == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    });
}

int Run(HINSTANCE instance, int show)
{
    std::wstring dir = Package::OwnDirectory();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WndProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QuendalConfiguration";
    RegisterClassW(&wc);
    std::wstring title = L"Korvane " + Package::SiteOfDirectory(dir) + L" Configuration";
    HWND hwnd = CreateWindowW(wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              400, 120, nullptr, nullptr, instance, nullptr);
    std::wstring text = L"Configuration: " + dir + L"\\Config\\Quendal-Settings.qst";
    CreateWindowW(L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, 10, 10, 380, 40, hwnd, nullptr, instance, nullptr);
    g_boundary.Rethrow();
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
        g_boundary.Rethrow();
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show)
{
    Package::ApplyForcedExit(__argc, __wargv);
    return Package::RunWindowProgram("Korvane Quendal Configuration", [&] { return Run(instance, show); });
}
