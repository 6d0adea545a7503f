#include "Snapshot.h"
#include <windows.h>
#include <shlobj.h>

namespace Test {
namespace {

bool Skipped(const std::wstring& path)
{
    // The user's folders link to the host's home folder under Wine: only the
    // Start menu is read of them.
    static const wchar_t* skip[] = {L"C:\\windows", L"C:\\users"};
    for (const wchar_t* s : skip)
        if (_wcsnicmp(path.c_str(), s, wcslen(s)) == 0)
            return true;
    return false;
}

void Files(const std::wstring& dir, Snapshot& shot)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = dir + L"\\" + name;
        if (Skipped(path))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            shot.entries[L"file:" + path + L"\\"] = L"dir";
            Files(path, shot);
        } else {
            shot.entries[L"file:" + path] = std::to_wstring(fd.nFileSizeLow);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

// `view` 0 reads the registry as this process sees it ("reg:"); the other
// view of a 64-bit Windows registry is read with its flag ("reg-other-view:").
void Keys(HKEY root, const std::wstring& rootName, const std::wstring& path, Snapshot& shot, REGSAM view = 0)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key))
        return;
    std::wstring base = (view ? L"reg-other-view:" : L"reg:") + rootName + L"\\" + path;
    shot.entries[base + L"\\"] = L"key";
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, size = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data.data(), &size))
            break;
        std::wstring value = std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            value += static_cast<wchar_t>(L'a' + (data[b] >> 4)), value += static_cast<wchar_t>(L'a' + (data[b] & 15));
        shot.entries[base + L"\\@" + name] = value;
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr))
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children)
        Keys(root, rootName, path + L"\\" + child, shot, view);
}

} // namespace

Snapshot Snapshot::Folder(const std::wstring& dir)
{
    Snapshot shot;
    Files(dir, shot);
    return shot;
}

Snapshot Snapshot::Take()
{
    Snapshot shot;
    Files(L"C:", shot);
    wchar_t startMenu[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, startMenu, CSIDL_STARTMENU, FALSE);
    Files(startMenu, shot);
    // HKLM\SOFTWARE and the classes have a 32-bit and a 64-bit view on 64-bit
    // Windows: an installer must leave the view it does not see untouched.
    BOOL wow = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow);
    const REGSAM other = wow ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    for (REGSAM view : {REGSAM(0), other}) {
        Keys(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", shot, view);
        Keys(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Korvane", shot, view);
        Keys(HKEY_LOCAL_MACHINE, L"HKLM", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", shot, view);
        Keys(HKEY_CLASSES_ROOT, L"HKCR", L"CLSID\\{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}", shot, view);
        Keys(HKEY_CLASSES_ROOT, L"HKCR", L"Quendal.CfgManip", shot, view);
    }
    // Of the services and classes, those an installation of the product can
    // add: the whole trees would take minutes to read under Wine.
    std::vector<std::wstring> services;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, &key) == 0) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD len = 256;
            if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr))
                break;
            if (_wcsnicmp(name, L"Quendal", 7) == 0)
                services.push_back(name);
        }
        RegCloseKey(key);
    }
    shot.entries[L"reg:HKLM\\SYSTEM\\CurrentControlSet\\Services\\"] = L"key";
    for (const std::wstring& service : services)
        Keys(HKEY_LOCAL_MACHINE, L"HKLM", L"SYSTEM\\CurrentControlSet\\Services\\" + service, shot);
    Keys(HKEY_CURRENT_USER, L"HKCU", L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", shot);
    return shot;
}

std::vector<std::wstring> Snapshot::Differences(const Snapshot& before, const std::vector<std::wstring>& ignored) const
{
    auto isIgnored = [&ignored](const std::wstring& path) {
        for (const std::wstring& rule : ignored) {
            const bool prefix = !rule.empty() && rule.back() == L'*';
            const std::size_t n = prefix ? rule.size() - 1 : rule.size();
            if ((prefix || path.size() == n) && _wcsnicmp(path.c_str(), rule.c_str(), n) == 0)
                return true;
        }
        return false;
    };
    std::vector<std::wstring> diff;
    for (const auto& e : entries) {
        auto old = before.entries.find(e.first);
        if (isIgnored(e.first))
            continue;
        if (old == before.entries.end())
            diff.push_back(L"added " + e.first);
        else if (old->second != e.second)
            diff.push_back(L"changed " + e.first);
    }
    for (const auto& e : before.entries)
        if (!entries.count(e.first) && !isIgnored(e.first))
            diff.push_back(L"removed " + e.first);
    return diff;
}

std::vector<std::wstring> KeptAfterRemoval(const std::wstring& dir, const std::wstring& site)
{
    const std::wstring key = L"reg:HKLM\\SOFTWARE\\Korvane\\" + site + L"\\";
    return {kMakerKeyEntry, L"file:" + dir + L"\\", L"file:" + dir + L"\\Config\\*", key, key + L"@FirstRunFlag"};
}

} // namespace Test
