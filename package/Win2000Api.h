#pragma once
// The package's programs start on Windows 2000, like the setup program: what
// later Windows versions do in one call (RegGetValueW, RegDeleteTreeW,
// RegDeleteKeyValueW, QueryFullProcessImageNameW) is done here with the calls
// Windows 2000 has, or bound at run time where it exists.
#include <windows.h>
#include <tlhelp32.h>
#include <string>

namespace Package {

// A REG_SZ value, or empty when the key, the value or the right type is missing.
inline std::wstring ReadRegString(HKEY root, const std::wstring& key, const wchar_t* value)
{
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &h))
        return std::wstring();
    std::wstring text;
    DWORD type = 0, size = 0;
    if (!RegQueryValueExW(h, value, nullptr, &type, nullptr, &size) && type == REG_SZ && size >= sizeof(wchar_t)) {
        // One character more than asked: the stored text need not end in a nul.
        std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        if (!RegQueryValueExW(h, value, nullptr, &type, reinterpret_cast<BYTE*>(&buf[0]), &got) && type == REG_SZ) {
            buf.resize(got / sizeof(wchar_t));
            text = buf.substr(0, buf.find(L'\0'));
        }
    }
    RegCloseKey(h);
    return text;
}

// Deletes a key with all its subkeys; a missing key gives ERROR_FILE_NOT_FOUND.
inline LONG DeleteRegTree(HKEY root, const std::wstring& key)
{
    HKEY h;
    LONG r = RegOpenKeyExW(root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &h);
    if (r)
        return r;
    for (;;) {
        wchar_t name[256];
        DWORD len = 256;
        // Always the first: each deleted subkey moves the rest up.
        if (RegEnumKeyExW(h, 0, name, &len, nullptr, nullptr, nullptr, nullptr))
            break;
        if ((r = DeleteRegTree(h, name)) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(h);
    return r ? r : RegDeleteKeyW(root, key.c_str());
}

inline LONG DeleteRegValue(HKEY root, const std::wstring& key, const std::wstring& value)
{
    HKEY h;
    LONG r = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &h);
    if (r)
        return r;
    r = RegDeleteValueW(h, value.c_str());
    RegCloseKey(h);
    return r;
}

// The full path of a process's executable, or empty. Windows Vista and later
// answer for any process; older versions through the process's module list,
// which serves processes of the caller's own width (all the package's are).
inline std::wstring ProcessImagePath(DWORD pid)
{
    using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    if (query) {
        std::wstring path;
        // PROCESS_QUERY_LIMITED_INFORMATION (Vista), which protected processes allow.
        if (HANDLE p = OpenProcess(0x1000, FALSE, pid)) {
            wchar_t image[MAX_PATH * 2] = {};
            DWORD size = MAX_PATH * 2;
            if (query(p, 0, image, &size))
                path.assign(image, size);
            CloseHandle(p);
        }
        return path;
    }
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE)
        return std::wstring();
    MODULEENTRY32W me = {};
    me.dwSize = sizeof(me);
    std::wstring path = Module32FirstW(snap, &me) ? me.szExePath : L"";
    CloseHandle(snap);
    return path;
}

} // namespace Package
