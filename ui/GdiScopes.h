#pragma once
#include "../nocrtlib/NoCopy.h"
#include <windows.h>

// Scoped GDI helpers: each releases what it took in its destructor.

// BeginPaint ... EndPaint.
class PaintScope : NoCopy {
public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
    ~PaintScope()
    {
        if (dc_)
            EndPaint(hwnd_, &ps_);
    }
    HDC Dc() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_;
    HDC dc_;
};

// Owns a font, brush or bitmap made by CreateFontIndirectW,
// CreateBrushIndirect, CreatePatternBrush or CreateBitmapIndirect.
template <class H>
class GdiObject : NoCopy {
public:
    explicit GdiObject(H h) : h_(h) {}
    ~GdiObject()
    {
        if (h_)
            DeleteObject(h_);
    }
    H Get() const { return h_; }

private:
    H h_;
};

// An object selected into a device context until the scope ends.
class SelectScope : NoCopy {
public:
    SelectScope(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~SelectScope()
    {
        if (old_)
            SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};
