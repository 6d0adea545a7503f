// The control panel: shows the state of its site's service and starts or
// stops it.
#include "ForcedExit.h"
#include "WindowProgram.h"
#include "../nocrtlib/CallbackBoundary.h"
#include <windows.h>
#include <string>

namespace {

const int kStart = 101, kStop = 102, kState = 103;
std::wstring g_site;
// The window procedure is called by Windows; what it throws waits here.
CallbackBoundary g_boundary;

std::wstring StateText()
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, g_site.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    std::wstring text = L"not installed";
    if (svc && QueryServiceStatus(svc, &status))
        text = status.dwCurrentState == SERVICE_RUNNING ? L"running"
               : status.dwCurrentState == SERVICE_STOPPED ? L"stopped"
                                                          : L"changing";
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return L"Service " + g_site + L": " + text;
}

void Command(int id)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, g_site.c_str(), SERVICE_START | SERVICE_STOP) : nullptr;
    SERVICE_STATUS status;
    if (svc && id == kStart)
        StartServiceW(svc, 0, nullptr);
    if (svc && id == kStop)
        ControlService(svc, SERVICE_CONTROL_STOP, &status);
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
}

LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE:
        CreateWindowW(L"STATIC", StateText().c_str(), WS_CHILD | WS_VISIBLE, 10, 10, 300, 20, hwnd,
                      reinterpret_cast<HMENU>(kState), nullptr, nullptr);
        CreateWindowW(L"BUTTON", L"Start", WS_CHILD | WS_VISIBLE, 10, 40, 80, 25, hwnd,
                      reinterpret_cast<HMENU>(kStart), nullptr, nullptr);
        CreateWindowW(L"BUTTON", L"Stop", WS_CHILD | WS_VISIBLE, 100, 40, 80, 25, hwnd,
                      reinterpret_cast<HMENU>(kStop), nullptr, nullptr);
        SetTimer(hwnd, 1, 1000, nullptr);
        return 0;
    case WM_COMMAND:
        Command(LOWORD(wp));
        return 0;
    case WM_TIMER:
        SetDlgItemTextW(hwnd, kState, StateText().c_str());
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    // -1 from WM_CREATE makes CreateWindowW fail; 0 suits every other message.
    return g_boundary.Run(LRESULT(msg == WM_CREATE ? -1 : 0), [&] { return HandleMessage(hwnd, msg, wp, lp); });
}

int Run(HINSTANCE instance, int show)
{
    g_site = Package::SiteOfDirectory(Package::OwnDirectory());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WndProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QuendalControlPanel";
    RegisterClassW(&wc);
    std::wstring title = L"Korvane " + g_site + L" Control Panel";
    HWND hwnd = CreateWindowW(wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              340, 120, nullptr, nullptr, instance, nullptr);
    g_boundary.Rethrow();
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        g_boundary.Rethrow();
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show)
{
    Package::ApplyForcedExit(__argc, __wargv);
    // The uninstaller's call: the control panel keeps nothing to clean up.
    for (int i = 1; i < __argc; ++i)
        if (Package::Lower(__wargv[i]) == L"-uninstall")
            return 0;
    return Package::RunWindowProgram("Korvane Quendal Control Panel", [&] { return Run(instance, show); });
}
