#pragma once
#include "../nocrtlib/RefCountable.h"
#include <windows.h>

// Extra behaviour for an existing window: an object attached with
// AttachSubWnd sees every message of the window before the procedure that was
// installed before it, and passes on what it does not consume. Up to ten
// objects can be stacked on one window; the most recently attached sees a
// message first. An attached object belongs to its window: the window's
// reference is dropped at WM_NCDESTROY.
class SubWnd : public RefCountable {
public:
    // Called once, right after the object was attached.
    virtual void OnAttach(HWND hwnd);
    virtual LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) = 0;

    WNDPROC PreviousProc() const { return prev_; }

protected:
    SubWnd() = default;

    // The message to the procedure installed before this object.
    LRESULT CallPrevious(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        return CallWindowProcW(prev_, hwnd, msg, wp, lp);
    }

private:
    friend bool AttachSubWnd(HWND hwnd, const RefPtr<SubWnd>& object);
    WNDPROC prev_ = nullptr;
};

// Attaches `object` to the window. False with the last error set when the
// window carries ten objects already (ERROR_OUT_OF_STRUCTURES), when the
// window property cannot be set or the window procedure cannot be replaced;
// the window then lacks the behaviour.
bool AttachSubWnd(HWND hwnd, const RefPtr<SubWnd>& object);
