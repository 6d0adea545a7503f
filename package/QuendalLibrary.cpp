// One library of the server. The package's libraries are built from this one
// source, each under its own name (QUENDAL_LIBRARY), so that every one is a
// real DLL of the width it is installed for; each tells who it is.
#include <windows.h>

#ifdef _WIN64
#define QUENDAL_WIDTH L"x64"
#else
#define QUENDAL_WIDTH L"x86"
#endif

// "QuendalCore 5.18 x86": name, version and width of this library.
extern "C" __declspec(dllexport) const wchar_t* QuendalModuleInfo()
{
    return QUENDAL_LIBRARY L" 5.18 " QUENDAL_WIDTH;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) noexcept
{
    return TRUE;
}
