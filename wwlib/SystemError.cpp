#include "SystemError.h"
#include "ErrorText.h"
#include <windows.h>

WView SystemError::Description() const
{
    if (short_.empty()) {
        WString text = WWLib::WindowsErrorTextWithCode(code_);
        short_ = function_.empty() ? text : function_ + L" failed: " + text;
    }
    return short_.view();
}

WView SystemError::LongDescription() const
{
    if (long_.empty()) {
        WString text = WWLib::WindowsErrorTextWithCode(code_);
        long_ = function_.empty()
                    ? text
                    : L"The system function " + function_ + L" failed with the following error: " + text;
    }
    return long_.view();
}

void ThrowLastError(const wchar_t* function)
{
    DWORD code = GetLastError();
    throw SystemError(function, code);
}
