// The configuration tool of the server, a COM local server. /RegServer and
// /UnregServer write and remove the registration of its class. The class is
// the machine's, every site's tool the same server: a site's tool neither
// takes it from another installed site's nor removes it while it names
// another's, so that it names an installed site's program while there is one
// (the uninstaller hands it to a remaining site).
#include "ComClass.h"
#include "ForcedExit.h"
#include "Win2000Api.h"
#include <windows.h>
#include <string>

namespace {

using Package::kCfgClsid;
using Package::kCfgName;
using Package::kCfgProgId;

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return path;
}

// The program the class starts now, unquoted; empty when it is not registered.
std::wstring RegisteredProgram()
{
    std::wstring program = Package::ReadRegString(
        HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kCfgClsid + L"\\LocalServer32", nullptr);
    if (!program.empty() && program[0] == L'"')
        program = program.substr(1, program.find(L'"', 1) - 1);
    return program;
}

// Another program holds the class while it is there: another site's tool.
bool HeldByAnother()
{
    std::wstring program = RegisteredProgram();
    return !program.empty() && Package::Lower(program) != Package::Lower(OwnPath()) &&
           GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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
    if (HeldByAnother())
        return 0;
    std::wstring clsid = std::wstring(L"CLSID\\") + kCfgClsid;
    bool ok = SetString(clsid, nullptr, kCfgName) &&
              SetString(clsid + L"\\LocalServer32", nullptr, L"\"" + OwnPath() + L"\"") &&
              SetString(clsid + L"\\ProgID", nullptr, kCfgProgId) && SetString(kCfgProgId, nullptr, kCfgName) &&
              SetString(std::wstring(kCfgProgId) + L"\\CLSID", nullptr, kCfgClsid);
    return ok ? 0 : 1;
}

int Unregister()
{
    if (HeldByAnother())
        return 0;
    std::wstring clsid = std::wstring(L"CLSID\\") + kCfgClsid;
    LONG a = Package::DeleteRegTree(HKEY_CLASSES_ROOT, clsid);
    LONG b = Package::DeleteRegTree(HKEY_CLASSES_ROOT, kCfgProgId);
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
