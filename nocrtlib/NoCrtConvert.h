#pragma once
#include "NoCrtString.h"

// Conversions between wide and narrow text. The caller always names the code
// page; nothing here guesses one. A negative length fails, a zero length gives
// an empty result. On failure the output is empty.
bool WideToNarrow(unsigned codePage, const wchar_t* text, int len, AString& out);
bool NarrowToWide(unsigned codePage, const char* text, int len, WString& out);

// Throwing forms: W2NException and N2WException.
AString W2N(unsigned codePage, const wchar_t* text, int len);
AString W2N(unsigned codePage, const WString& text);
WString N2W(unsigned codePage, const char* text, int len);
WString N2W(unsigned codePage, const char* text);
