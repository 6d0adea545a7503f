#include "SubWnd.h"
#include "UiBoundary.h"

namespace {

// The window property of each layer holds one of these: the window's own
// reference to the object.
struct Holder {
    RefPtr<SubWnd> object;
};

const char* const kPropNames[] = {"KORVANE_SUBWND_0", "KORVANE_SUBWND_1", "KORVANE_SUBWND_2", "KORVANE_SUBWND_3",
                                  "KORVANE_SUBWND_4", "KORVANE_SUBWND_5", "KORVANE_SUBWND_6", "KORVANE_SUBWND_7",
                                  "KORVANE_SUBWND_8", "KORVANE_SUBWND_9"};
constexpr int kRows = sizeof(kPropNames) / sizeof(kPropNames[0]);

// One window procedure per layer: a message finds its object through the
// property of that layer alone.
template <int Row>
LRESULT CALLBACK LayerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* holder = static_cast<Holder*>(GetPropA(hwnd, kPropNames[Row]));
    if (!holder)
        return 0;
    if (msg == WM_NCDESTROY) {
        WNDPROC prev = holder->object->PreviousProc();
        RemovePropA(hwnd, kPropNames[Row]);
        UiBoundary::Run(0, [holder] {
            delete holder;
            return 0;
        });
        return CallWindowProcW(prev, hwnd, msg, wp, lp);
    }
    return UiBoundary::Run(LRESULT(0), [&] { return holder->object->WndProc(hwnd, msg, wp, lp); });
}

template <int... Rows>
struct LayerProcs {
    static constexpr WNDPROC procs[] = {&LayerProc<Rows>...};
};
template <int... Rows>
constexpr WNDPROC LayerProcs<Rows...>::procs[];
using TheLayerProcs = LayerProcs<0, 1, 2, 3, 4, 5, 6, 7, 8, 9>;
static_assert(sizeof(TheLayerProcs::procs) / sizeof(WNDPROC) == kRows, "one procedure a layer");

} // namespace

void SubWnd::OnAttach(HWND)
{
}

bool AttachSubWnd(HWND hwnd, const RefPtr<SubWnd>& object)
{
    int row = 0;
    while (row < kRows && GetPropA(hwnd, kPropNames[row]))
        ++row;
    if (row == kRows) {
        SetLastError(ERROR_OUT_OF_STRUCTURES);
        return false;
    }
    auto* holder = new Holder{object};
    if (!SetPropA(hwnd, kPropNames[row], holder)) {
        delete holder;
        return false;
    }
    auto prev = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TheLayerProcs::procs[row])));
    if (!prev) {
        RemovePropA(hwnd, kPropNames[row]);
        delete holder;
        return false;
    }
    object->prev_ = prev;
    object->OnAttach(hwnd);
    return true;
}
