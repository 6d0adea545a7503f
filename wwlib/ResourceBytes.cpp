#include "ResourceBytes.h"
#include "InstallError.h"

ResourceBytes LoadOwnResource(WORD id, const wchar_t* type)
{
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
    if (!res)
        ThrowCallFailed(L"FindResourceW()", GetLastError());
    HGLOBAL loaded = LoadResource(nullptr, res);
    if (!loaded)
        ThrowCallFailed(L"LoadResource()", GetLastError());
    const void* data = LockResource(loaded);
    if (!data)
        ThrowCallFailed(L"LockResource()", GetLastError());
    DWORD size = SizeofResource(nullptr, res);
    if (!size)
        ThrowCallFailed(L"SizeofResource()", GetLastError());
    return {static_cast<const BYTE*>(data), size};
}
