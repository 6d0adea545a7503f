#pragma once
#include "SubWnd.h"
#include <map>

// Distances in pixels of a child's edges from its parent's client edges: left
// and top from the left and top, right and bottom from the right and bottom;
// a negative value leaves that edge unanchored. invalidate: negative, no
// repaint after moving; 0, repaint without erasing; positive, with erasing.
struct AnchorRecord {
    int left = -1;
    int top = -1;
    int right = -1;
    int bottom = -1;
    int invalidate = -1;
};

// Attached to a dialog, moves and resizes its children by their anchors
// whenever the dialog is resized (not when it is minimised). The dialog's own
// procedure sees WM_SIZE first and may change anchors in it.
class SubWnd_AnchorCtrl : public SubWnd {
public:
    void SetAnchor(int id, const AnchorRecord& anchor) { byId_[id] = anchor; }
    void SetAnchor(HWND child, const AnchorRecord& anchor) { byHandle_[child] = anchor; }
    // The entry of a control, made with every value -1 when there is none.
    AnchorRecord& Anchor(int id) { return byId_[id]; }
    bool HasAnchor(int id) const { return byId_.count(id) != 0; }

    // Lays out every registered child for a client area of this size: the
    // handle entries first, then the identifier entries, each in ascending
    // key order. An entry without any anchored edge is dropped.
    void ApplyAnchors(HWND parent, int width, int height);
    void ApplyAnchors(HWND parent);

    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override;

private:
    std::map<HWND, AnchorRecord> byHandle_;
    std::map<int, AnchorRecord> byId_;
};
