#pragma once
#include <cstddef>
#include <cstdint>
#include "NoCrtString.h"

// Writes `value` in `radix` (clamped to 2..36, upper-case digits), padded with
// "0" to at least `minDigits`, then a nul. Returns the characters written
// without the nul. The buffer must hold 65 characters or minDigits + 1.
std::size_t FormatUnsigned(std::uint64_t value, unsigned minDigits, unsigned radix, wchar_t* out);
std::size_t FormatUnsigned(std::uint64_t value, unsigned minDigits, unsigned radix, char* out);

// `value` in decimal digits.
inline WString DecimalText(std::uint64_t value)
{
    wchar_t digits[24];
    FormatUnsigned(value, 1, 10, digits);
    return WString(digits);
}
