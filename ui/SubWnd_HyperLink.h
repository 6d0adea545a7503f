#pragma once
#include "SubWnd.h"
#include "../nocrtlib/NoCrtString.h"

// Turns a static text control into a link: underlined blue text, the hand
// cursor over the text, a tooltip, a click with the mouse or the space bar,
// a dotted focus frame, and embossed text when disabled. A click opens the
// target with the shell; a link without a target sends WM_COMMAND with its
// own identifier to its parent instead.
class SubWnd_HyperLink : public SubWnd {
public:
    SubWnd_HyperLink();
    // The target, which is also the tooltip text.
    explicit SubWnd_HyperLink(const WString& target);

    void OnAttach(HWND hwnd) override;
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override;
    virtual void OnClick(HWND hwnd);

    bool Hot() const { return hot_; }
    bool Visited() const { return visited_; }
    bool Pressed() const { return pressed_; }
    const RECT& HitRect() const { return hit_; }
    HWND Tooltip() const { return tooltip_; }

    static constexpr COLORREF kLinkColour = 0x00FF0000;

private:
    void Paint(HWND hwnd);
    void ShowTooltip(bool active);
    void SetHot(HWND hwnd, bool hot);

    bool hot_ = false;
    bool visited_ = false;
    COLORREF normalColour_ = kLinkColour;
    COLORREF hotColour_ = kLinkColour;
    COLORREF visitedColour_ = kLinkColour;
    HWND tooltip_ = nullptr;
    WString tooltipText_;
    bool tooltipSuppressed_ = false;
    WString target_;
    RECT hit_ = {};
    HCURSOR hand_;
    HCURSOR arrow_;
    bool pressed_ = false;
    bool focused_ = false;
    bool tooltipCreated_ = false;
};
