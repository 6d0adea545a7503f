#include "RichText.h"
#include "../nocrtlib/CallbackBoundary.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/WException.h"
#include "../wwlib/ResourceBytes.h"
#include <richedit.h>
#include <cmath>

namespace {

struct StreamCookie {
    RichTextSource source;
    CallbackBoundary boundary;
};

// Called by the Rich Edit control: a boundary. A failure stops the stream.
DWORD CALLBACK StreamCallback(DWORD_PTR cookieAddress, LPBYTE buffer, LONG cb, LONG* transferred)
{
    auto& cookie = *reinterpret_cast<StreamCookie*>(cookieAddress);
    *transferred = 0;
    return cookie.boundary.Run(DWORD(1), [&] { return cookie.source.Read(buffer, cb, transferred); });
}

double Hue2Rgb(double p, double q, double t)
{
    if (t < 0)
        t += 1;
    if (t > 1)
        t -= 1;
    if (t < 1.0 / 6)
        return p + (q - p) * 6 * t;
    if (t < 0.5)
        return q;
    if (t < 2.0 / 3)
        return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

BYTE ToByte(double c)
{
    return static_cast<BYTE>(std::trunc(c * 255 + 0.49));
}

} // namespace

DWORD RichTextSource::Read(LPBYTE buffer, LONG cb, LONG* transferred)
{
    NoCrtAssert(cb >= 0);
    const std::size_t room = static_cast<std::size_t>(cb);
    if (narrow) {
        std::size_t n = narrow->size() < room ? narrow->size() : room;
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] = static_cast<BYTE>((*narrow)[i]);
        narrow->erase(0, n);
        *transferred = static_cast<LONG>(n);
        return 0;
    }
    if (wide) {
        std::size_t bytes = wide->size() * 2 < room ? wide->size() * 2 : room & ~std::size_t(1);
        for (std::size_t i = 0; i < bytes / 2; ++i) {
            wchar_t c = (*wide)[i];
            buffer[2 * i] = static_cast<BYTE>(c);
            buffer[2 * i + 1] = static_cast<BYTE>(c >> 8);
        }
        wide->erase(0, bytes / 2);
        *transferred = static_cast<LONG>(bytes);
        return 0;
    }
    throw WStrException(L"RichEdit_StreamCallback(): both m_pTextN and m_pTextW are null while streaming in");
}

WString LoadRtfResource(WORD id)
{
    ResourceBytes bytes = LoadOwnResource(id, L"RTF");
    WString text = N2W(CP_ACP, reinterpret_cast<const char*>(bytes.data), static_cast<int>(bytes.size));
    // The zero byte that ends the resource is no character of the document.
    text.trimAtNul();
    return text;
}

void StreamRichText(const WString& text, HWND richEdit, TextFormat format)
{
    if (format == TextFormat::Detect)
        format = text.startsWith(L"{\\r ") || text.startsWith(L"{\\rtf") ? TextFormat::Rich : TextFormat::Plain;
    StreamCookie cookie;
    WString wide;
    AString narrow;
    WPARAM flags;
    if (format == TextFormat::Plain) {
        wide = text;
        cookie.source.wide = &wide;
        flags = SF_TEXT | SF_UNICODE;
    } else {
        narrow = W2N(CP_ACP, text);
        if (narrow.startsWith("{\\r "))
            narrow.replace(0, 4, "{\\rtf ", 6);
        cookie.source.narrow = &narrow;
        flags = SF_RTF;
    }
    EDITSTREAM es = {};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(&cookie);
    es.pfnCallback = &StreamCallback;
    SendMessageW(richEdit, EM_STREAMIN, flags, reinterpret_cast<LPARAM>(&es));
    cookie.boundary.Rethrow();
    LRESULT first = SendMessageW(richEdit, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(richEdit, EM_LINESCROLL, 0, -first);
}

COLORREF ViewerBackgroundColour(COLORREF buttonFace, COLORREF window)
{
    double mix[3];
    for (int i = 0; i < 3; ++i) {
        double face = ((buttonFace >> (8 * i)) & 0xFF) / 255.0;
        double win = ((window >> (8 * i)) & 0xFF) / 255.0;
        mix[i] = 0.6 * win + 0.4 * face;
    }
    const double r = mix[0], g = mix[1], b = mix[2];
    const double mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const double mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const double l = (mx + mn) / 2;
    double h = 0, s = 0;
    if (mx != mn) {
        const double d = mx - mn;
        s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
        if (mx == r)
            h = (g - b) / d;
        else if (mx == g)
            h = 2 + (b - r) / d;
        else
            h = 4 + (r - g) / d;
        h /= 6;
        if (h < 0)
            h += 1;
    }
    s *= 1 - 0.66;
    double out[3];
    if (s == 0) {
        out[0] = out[1] = out[2] = l;
    } else {
        const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
        const double p = 2 * l - q;
        out[0] = Hue2Rgb(p, q, h + 1.0 / 3);
        out[1] = Hue2Rgb(p, q, h);
        out[2] = Hue2Rgb(p, q, h - 1.0 / 3);
    }
    return RGB(ToByte(out[0]), ToByte(out[1]), ToByte(out[2]));
}

COLORREF ViewerBackgroundColour()
{
    return ViewerBackgroundColour(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOW));
}
