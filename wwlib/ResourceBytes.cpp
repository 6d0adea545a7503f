#include "ResourceBytes.h"
#include "ErrorText.h"
#include "InstallError.h"

namespace {

[[noreturn]] void Fail(const wchar_t* call)
{
    DWORD err = GetLastError();
    throw InstallError(WString(call) + L" failed: " + WWLib::WindowsErrorText(err));
}

} // namespace

ResourceBytes LoadOwnResource(WORD id, const wchar_t* type)
{
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!res)
        Fail(L"FindResourceW()");
    HGLOBAL loaded = LoadResource(nullptr, res);
    if (!loaded)
        Fail(L"LoadResource()");
    const void* data = LockResource(loaded);
    if (!data)
        Fail(L"LockResource()");
    DWORD size = SizeofResource(nullptr, res);
    if (!size)
        Fail(L"SizeofResource()");
    return {static_cast<const BYTE*>(data), size};
}
