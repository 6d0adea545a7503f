#pragma once
#include "../nocrtlib/NoCrtString.h"

namespace WWLib {

// The text of a Windows error code: the system's message without trailing line
// ends, else a built-in text, else "Windows error <code>.". The caller's last
// error survives.
WString WindowsErrorText(unsigned long code);

// "Windows error <code>: <text>", or "Windows error <code>." without a text.
WString WindowsErrorTextWithCode(unsigned long code);

// A Windows code as text: decimal up to 99999, else "0x" and 8 hex digits.
WString WindowsCodeText(unsigned long code);

// "0x" and the value as 8 upper-case hexadecimal digits.
WString Hex8Text(unsigned long value);

// The text of a COM result: a fixed table, the Windows text of a wrapped
// Windows error (0x8007xxxx), else empty.
WString ComResultText(long hr);

} // namespace WWLib
