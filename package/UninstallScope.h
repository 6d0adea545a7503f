#pragma once
// What the product's uninstaller may act on: the site it was asked to remove,
// and nothing else, whatever the uninstall entry's parameter list names.
//
//   - files, folders, programs, services and COM servers under the work
//     directory (-workDir=), which must be the site's own folder: absolute,
//     not a drive's root, the Windows folder or below it, or a Program Files
//     folder itself; its last folder gives back the site's name;
//     the same folder as the entry's "InstallDir" where it has one;
//   - the folders above the work directory, for -delDir= only (a folder is
//     only ever removed when it is empty);
//   - the site's Start-menu folder ("Korvane <site>", the user's or all
//     users') and what is in it, and its Administrative Tools shortcut;
//   - the service named after the site;
//   - the site's uninstall key and its key under the maker's key.
//
// A parameter outside is skipped and said in the feedback; it is no error.
// The places' rules are wwlib/SiteScope.h, which the installer's journal
// follows too.
#include "ForcedExit.h"
#include "../wwlib/SiteScope.h"
#include "../wwlib/CanonicalPath.h"
#include "../wwlib/FileLinks.h"
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

namespace Package {

class UninstallScope {
public:
    UninstallScope(const std::wstring& site, const std::wstring& workDir, const std::wstring& entryDir)
    {
        places_.site = Lower(site);
        std::wstring dir = Full(workDir);
        bool absolute = workDir.size() > 2 && ((workDir[1] == L':' && workDir[2] == L'\\') ||
                                               (workDir[0] == L'\\' && workDir[1] == L'\\'));
        // The default site's folder too gives back its name: one whose name
        // begins with "Quendal-" is another site's.
        bool ownName = Lower(SiteOfDirectory(workDir)) == places_.site;
        bool sameAsEntry = entryDir.empty() || Full(entryDir) == dir;
        // The form the installer stores: no "..", short names or "\\?\\".
        bool sameText = !dir.empty() && (Lower(workDir) == dir || Lower(workDir) == dir + L"\\");
        if (absolute && ownName && sameAsEntry && sameText && !Refused(dir))
            places_.dir = dir;
        int menu = 0;
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
            std::wstring folder = Folder(csidl);
            if (!folder.empty())
                places_.startMenus[menu] = folder + L"\\korvane " + places_.site;
            ++menu;
        }
        std::wstring adminTools = Folder(CSIDL_COMMON_ADMINTOOLS);
        if (!adminTools.empty())
            places_.adminShortcut = adminTools + L"\\" + places_.site + L" control panel.lnk";
    }

    bool WorkDirAccepted() const { return !places_.dir.empty(); }

    // Whether the uninstaller may carry out one parameter of the list.
    bool Allows(const std::wstring& name, const std::wstring& value) const
    {
        std::wstring n = Lower(name);
        if (n == L"workdir" || n == L"feedback")
            return true;
        if (n == L"stopsvc")
            return SiteScope::IsService(places_, Lower(value));
        if (n == L"killproc" || n == L"execuninst" || n == L"unregsvc" || n == L"unregsvr")
            return SiteScope::InFolder(places_, Full(value));
        if (n == L"delregkey")
            return InSiteKeys(value);
        if (n == L"delregvalue") {
            std::size_t slash = value.rfind(L'\\');
            return slash != std::wstring::npos && InSiteKeys(value.substr(0, slash));
        }
        std::wstring path = Full(value);
        if (n == L"delfile")
            return SiteScope::InFolder(places_, path) || SiteScope::IsShortcut(places_, path);
        if (n == L"deldir")
            return SiteScope::IsFolderToRemove(places_, path);
        return false;
    }

private:
public:
    // The installer's canonical form (wwlib/CanonicalPath.h), lower case;
    // empty for a path that has none, which is inside nothing.
    static std::wstring Full(const std::wstring& path)
    {
        WString canonical = WWLib::CanonicalOrEmpty(WString(path.c_str()));
        return Lower(std::wstring(canonical.c_str(), canonical.size()));
    }

private:

    static std::wstring Folder(int csidl)
    {
        wchar_t path[MAX_PATH] = {};
        return SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? Lower(path) : std::wstring();
    }

    static bool Refused(const std::wstring& dir)
    {
        if (dir.size() <= 3)
            return true; // a drive's root
        if (dir[0] == L'\\' && dir[1] == L'\\') {
            std::size_t server = dir.find(L'\\', 2);
            if (server == std::wstring::npos || dir.find(L'\\', server + 1) == std::wstring::npos)
                return true; // a share's root
        }
        wchar_t windows[MAX_PATH + 1];
        UINT n = GetWindowsDirectoryW(windows, MAX_PATH + 1);
        std::wstring win = n && n <= MAX_PATH ? Full(std::wstring(windows, n)) : std::wstring();
        if (!win.empty() && (dir == win || SiteScope::Below(dir, win)))
            return true;
        for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
            wchar_t value[MAX_PATH + 1];
            DWORD len = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
            if (len && len <= MAX_PATH && Full(std::wstring(value, len)) == dir)
                return true;
        }
        return dir == Folder(CSIDL_PROGRAM_FILES);
    }

    bool InSiteKeys(const std::wstring& keyPath) const
    {
        std::wstring k = Lower(keyPath);
        std::size_t slash = k.find(L'\\');
        if (slash == std::wstring::npos)
            return false;
        std::wstring root = k.substr(0, slash), rest = k.substr(slash + 1);
        if (root != L"hkey_local_machine" && root != L"hklm")
            return false;
        return SiteScope::IsSiteKey(places_, rest);
    }

    SiteScope::Places<std::wstring> places_;
};

} // namespace Package
