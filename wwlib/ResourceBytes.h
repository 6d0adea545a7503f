#pragma once
#include <windows.h>

// The bytes of a resource of the program's own module, in place (never
// copied). Each failing call throws InstallError naming the call.
struct ResourceBytes {
    const BYTE* data;
    DWORD size;
};
ResourceBytes LoadOwnResource(WORD id, const wchar_t* type);
