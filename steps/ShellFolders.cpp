#include "ShellFolders.h"
#include "../nocrtlib/NoCrtPath.h"
#include "TargetDirectory.h"
#include "../wwlib/Product.h"
#include "../wwlib/CReg.h"
#include "../wwlib/DllLoader.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Sid.h"
#include "../wwlib/SystemInfo.h"
#include <shlobj.h>

using namespace WWLib;

namespace {

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kUserShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// The shell's answer, or empty when the shell is too old, lacks the function
// or fails.
WString FromShell(int folder)
{
    if (!ShellFolderApiAvailable())
        return WString();
    try {
        Shell32Dll shell;
        wchar_t path[MAX_PATH + 1] = {};
        if (shell.SHGetSpecialFolderPathW(path, folder))
            return WString(path);
    } catch (const WException&) {
        // An old shell without the function: the registry answers instead.
    }
    return WString();
}

bool FromRegistry(HKEY root, const wchar_t* key, const wchar_t* value, WString& out)
{
    CRegRead<0> read(RegKeyName(root, key), value, out);
    return read.Succeeded();
}

// The user's Programs folder as the shell or the registry gives it; may be empty.
WString UserProgramsDir()
{
    WString dir = FromShell(CSIDL_PROGRAMS);
    if (dir.empty() && !FromRegistry(HKEY_CURRENT_USER, kShellFolders, L"Programs", dir))
        FromRegistry(HKEY_CURRENT_USER, kUserShellFolders, L"Programs", dir);
    return dir;
}

} // namespace

WString GetProgramFilesDir()
{
    WString dir = FromShell(CSIDL_PROGRAM_FILES);
    if (dir.empty() && !FromRegistry(HKEY_LOCAL_MACHINE, kCurrentVersion, L"ProgramFilesDir", dir))
        dir = L"C:\\Program Files";
    return dir;
}

WString GetProgramsDir()
{
    WString dir = UserProgramsDir();
    if (IsAbsolutePath(dir))
        return dir;
    dir = FromShell(CSIDL_COMMON_PROGRAMS);
    if (dir.empty())
        FromRegistry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", dir);
    if (!IsAbsolutePath(dir))
        throw InstallError(L"The Programs folder of the Start menu cannot be found");
    return dir;
}

WString GetCommonProgramsDir()
{
    WString dir = FromShell(CSIDL_COMMON_PROGRAMS);
    if (dir.empty() && !FromRegistry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", dir))
        dir = UserProgramsDir();
    return dir;
}

WString GetCommonAdminToolsDir()
{
    WString dir = FromShell(CSIDL_COMMON_ADMINTOOLS);
    if (!dir.empty() || FromRegistry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Administrative Tools", dir))
        return dir;
    WString common = GetCommonProgramsDir();
    if (common.empty())
        return WString();
    VersionTriple v = WindowsVersion();
    if (v == VersionTriple{VER_PLATFORM_WIN32_NT, 4, 0})
        return common + L"\\Administrative Tools (Common)";
    if (v == VersionTriple{VER_PLATFORM_WIN32_NT, 5, 0} || v == VersionTriple{VER_PLATFORM_WIN32_NT, 5, 1})
        return common + L"\\Administrative Tools";
    return WString();
}

WString GetCommonAppDataDir()
{
    WString dir = FromShell(CSIDL_COMMON_APPDATA);
    if (dir.empty())
        FromRegistry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", dir);
    return dir;
}

WString StartMenuProgramsDirFor(PSID user)
{
    if (user && Sid::LocalSystem().Equals(user)) {
        WString common = GetCommonProgramsDir();
        if (IsAbsolutePath(common))
            return common;
    }
    return GetProgramsDir();
}

WString GetStartMenuProgramsDir()
{
    Sid user;
    try {
        user = Sid::ProcessUser();
    } catch (const std::exception&) {
        // No token to ask: the user's folder, as before the question existed.
    }
    return StartMenuProgramsDirFor(user.Get());
}

SiteScope::Places<WString> SitePlacesOf(const WString& site, const WString& installDir)
{
    SiteScope::Places<WString> places;
    places.site = site;
    places.dir = ComparablePath(installDir);
    try {
        places.startMenus[0] = ComparablePath(PathJoin(GetProgramsDir(), Product::kMakerPrefix + site));
    } catch (const std::exception&) {
        // No Start menu: no shortcut is the site's.
    }
    WString common = GetCommonProgramsDir();
    if (!common.empty())
        places.startMenus[1] = ComparablePath(PathJoin(common, Product::kMakerPrefix + site));
    WString adminTools = GetCommonAdminToolsDir();
    if (!adminTools.empty())
        places.adminShortcut = ComparablePath(PathJoin(adminTools, site + L" Control Panel.lnk"));
    return places;
}
