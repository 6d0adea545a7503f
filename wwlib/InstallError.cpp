#include "InstallError.h"
#include "ErrorText.h"

void ThrowCallFailed(const wchar_t* call, unsigned long code)
{
    throw InstallError(WString(call) + L" failed: " + WWLib::WindowsErrorText(code));
}
