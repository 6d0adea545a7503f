#pragma once
#include "NoCrtString.h"
#include "datavect.h"
#include <cstdint>

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

// Bytes as upper-case hexadecimal digits, two a byte, and back. Decoding fails
// (leaving `out` empty) for an odd count or any other character.
WString BytesToHex(const void* data, std::size_t size);
bool HexToBytes(const WString& text, NoCrtDataVect<std::uint8_t>& out);
