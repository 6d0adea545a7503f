#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

// Rich-text documents of the program (resources of type "RTF") and the Rich
// Edit controls that show them.

// What StreamRichText makes of a text.
enum class TextFormat { Detect = 0, Plain = 1, Rich = 2 };

// The text of an RTF resource of the program's own module, from the ANSI
// code page. Resource failures throw InstallError naming the call.
WString LoadRtfResource(WORD id);

// What is still to be handed to a Rich Edit control while it streams a text
// in: exactly one of the two texts; what was handed over is removed from its
// front. Read fills at most `cb` bytes (whole characters of a wide text) and
// reports 0 bytes once the text is used up, which ends the stream. With no
// text it throws.
struct RichTextSource {
    AString* narrow = nullptr;
    WString* wide = nullptr;
    DWORD Read(LPBYTE buffer, LONG cb, LONG* transferred);
};

// Replaces the whole content of a Rich Edit control and scrolls it to the
// top. Detect takes a text beginning with "{\r " or "{\rtf" for rich text.
// A short "{\r " header is expanded to "{\rtf ". What the stream callback
// throws is rethrown here, after the control has returned.
void StreamRichText(const WString& text, HWND richEdit, TextFormat format);

// The agreement viewer's background: the window colour mixed with a little of
// the button face, with two thirds of its saturation taken away.
COLORREF ViewerBackgroundColour();
COLORREF ViewerBackgroundColour(COLORREF buttonFace, COLORREF window);
