// A COM server DLL for the registration tests. Built twice: with the
// registration exports (they set and delete a marker value) and without.
#include <windows.h>

#ifdef WITH_REGISTRATION
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer()
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\Dll", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr))
        return E_FAIL;
    DWORD one = 1;
    RegSetValueExW(key, L"registered", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\Dll");
    return S_OK;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
