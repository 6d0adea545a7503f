#include "SiteKey.h"
#include "../wwlib/CReg.h"
#include "../wwlib/Product.h"
#include <windows.h>

using namespace WWLib;

namespace {

const wchar_t kServiceWasRunning[] = L"RestartServiceAfterInstall";

} // namespace

WString SiteKeyPath(const WString& site)
{
    return WString(kProductKey) + L"\\" + site;
}

void DeleteSiteKeyIfEmpty(const WString& site) noexcept
{
    try {
        const WString path = SiteKeyPath(site);
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return;
        DWORD subkeys = 1, values = 1;
        LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (r == ERROR_SUCCESS && subkeys == 0 && values == 0)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    } catch (...) {
    }
}

void RememberRunningService(const WString& site) noexcept
{
    try {
        CRegWrite<0>(SiteKeyPath(site), kServiceWasRunning, DWORD(1));
    } catch (...) {
    }
}

bool RunningServiceRemembered(const WString& site) noexcept
{
    try {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SiteKeyPath(site).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return false;
        DWORD value = 0, size = sizeof(value), type = 0;
        LONG r = RegQueryValueExW(key, kServiceWasRunning, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS && type == REG_DWORD && value != 0;
    } catch (...) {
        return false;
    }
}

void ForgetRunningService(const WString& site) noexcept
{
    try {
        CRegDeleteValue<0>(SiteKeyPath(site), kServiceWasRunning);
        DeleteSiteKeyIfEmpty(site);
    } catch (...) {
    }
}
