// The configuration tool of the server, a COM local server. /RegServer and
// /UnregServer write and remove the registration of its class.
#include "ForcedExit.h"
#include "Win2000Api.h"
#include <windows.h>
#include <string>

namespace {

const wchar_t kClsid[] = L"{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}";
const wchar_t kProgId[] = L"Quendal.CfgManip";
const wchar_t kName[] = L"Quendal Configuration Manipulator";

bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY h;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr))
        return false;
    LONG r = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

int Register()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring clsid = std::wstring(L"CLSID\\") + kClsid;
    bool ok = SetString(clsid, nullptr, kName) &&
              SetString(clsid + L"\\LocalServer32", nullptr, L"\"" + std::wstring(path) + L"\"") &&
              SetString(clsid + L"\\ProgID", nullptr, kProgId) && SetString(kProgId, nullptr, kName) &&
              SetString(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsid);
    return ok ? 0 : 1;
}

int Unregister()
{
    std::wstring clsid = std::wstring(L"CLSID\\") + kClsid;
    LONG a = Package::DeleteRegTree(HKEY_CLASSES_ROOT, clsid);
    LONG b = Package::DeleteRegTree(HKEY_CLASSES_ROOT, kProgId);
    // Nothing registered is as good as unregistered.
    return (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) && (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND)
               ? 0
               : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Package::ApplyForcedExit(argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = Package::Lower(argv[i]);
        if (arg == L"/regserver" || arg == L"-regserver")
            return Register();
        if (arg == L"/unregserver" || arg == L"-unregserver")
            return Unregister();
    }
    return 0;
}
