#pragma once
#include "SubWnd.h"

// Makes a read-only Rich Edit control behave like a viewer: it never takes
// the focus (so it never shows a caret), never shows the text-insertion
// cursor, and is not selected whole when its dialog gives it the focus.
class SubWnd_RichView : public SubWnd {
public:
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override;
};
