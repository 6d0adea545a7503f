#include "MessageBoxes.h"
#include "../../nocrtlib/CallbackBoundary.h"
#include <algorithm>

namespace Test {
namespace {

struct Search {
    const std::wstring* caption;
    HWND found;
    CallbackBoundary boundary;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lp)
{
    auto* s = reinterpret_cast<Search*>(lp);
    return s->boundary.Run(FALSE, [hwnd, s]() -> BOOL {
        wchar_t cls[64] = {}, title[512] = {};
        GetClassNameW(hwnd, cls, 64);
        GetWindowTextW(hwnd, title, 512);
        if (std::wstring(cls) == L"#32770" && *s->caption == title && IsWindowVisible(hwnd)) {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    });
}

// A thread routine is called by Windows: nothing may unwind out of it.
DWORD WINAPI AnswererThread(void* self)
{
    try {
        static_cast<MessageBoxAnswerer*>(self)->Run();
        return 0;
    } catch (...) {
        return 1;
    }
}

} // namespace

MessageBoxAnswerer::MessageBoxAnswerer(std::wstring caption, int button)
    : caption_(std::move(caption)), button_(button)
{
    InitializeCriticalSection(&lock_);
    thread_ = CreateThread(nullptr, 0, &AnswererThread, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    DeleteCriticalSection(&lock_);
}

std::vector<std::wstring> MessageBoxAnswerer::Texts() const
{
    Lock g(lock_);
    return texts_;
}

std::vector<int> MessageBoxAnswerer::DefaultButtons() const
{
    Lock g(lock_);
    return defaults_;
}

void MessageBoxAnswerer::Run()
{
    while (!stop_) {
        Search s{&caption_, nullptr, {}};
        EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&s));
        s.boundary.Rethrow();
        if (s.found) {
            bool seen;
            {
                Lock g(lock_);
                seen = std::find(answered_.begin(), answered_.end(), s.found) != answered_.end();
            }
            if (!seen) {
                // The static text of a message box has the control id 0xFFFF.
                wchar_t text[4096] = {};
                GetDlgItemTextW(s.found, 0xFFFF, text, 4096);
                // The default button is the one drawn as the default push button.
                int def = 0;
                for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
                    HWND button = GetDlgItem(s.found, id);
                    if (button && (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
                        def = id;
                }
                {
                    Lock g(lock_);
                    texts_.push_back(text);
                    defaults_.push_back(def);
                    answered_.push_back(s.found);
                }
            }
            PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(s.found, button_)));
        }
        Sleep(50);
    }
}

} // namespace Test
