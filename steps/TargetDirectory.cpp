#include "TargetDirectory.h"
#include "../wwlib/SiteName.h"
#include "InstallSettings.h"
#include "ShellFolders.h"
#include "StepReport.h"
#include "../wwlib/SilentExit.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../wwlib/CanonicalPath.h"
#include "../wwlib/FileLinks.h"
#include "../wwlib/Product.h"
#include "../wwlib/SystemInfo.h"
#include <windows.h>

WString ComparablePath(const WString& path)
{
    WString canonical = WWLib::CanonicalOrEmpty(path);
    if (canonical.size() == 3 && canonical[2] == L'\\')
        canonical.erase(2); // a drive's root as "C:", below which "C:\x" lies
    return canonical;
}

bool PathBelow(const WString& path, const WString& top)
{
    return !top.empty() && path.size() > top.size() + 1 && path[top.size()] == L'\\' &&
           EqualNoCase(path.substr(0, top.size()), top);
}

namespace {

bool SameOrBelow(const WString& dir, const WString& top)
{
    return !top.empty() && (EqualNoCase(dir, top) || PathBelow(dir, top));
}

bool IsRoot(const WString& dir)
{
    if (dir.size() == 2 && dir[1] == L':')
        return true;
    // \\server\share: two names after the leading pair.
    if (dir.size() > 2 && dir[0] == L'\\' && dir[1] == L'\\') {
        std::size_t server = dir.find(L'\\', 2);
        return server != WString::npos && dir.find(L'\\', server + 1) == WString::npos;
    }
    return false;
}

WString Environment(const wchar_t* name)
{
    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n > 0 && n < 1024 ? WString(value, n) : WString();
}

} // namespace

bool IsReservedDeviceName(const WString& name)
{
    return SiteName::IsDeviceName(name.c_str(), name.size());
}

const wchar_t kTargetIsLink[] = L"it is a link (a junction, a symbolic link or a mount point)";

void RefuseTarget(const WString& dir, const WString& reason)
{
    WString text = L"Refusing to install into '" + dir + L"': " + reason;
    StepLine(text + L", aborting");
    if (TheInstallSettings().interactive)
        MessageBoxW(nullptr, (text + L".").c_str(), L"Invalid Target Directory", MB_OK | MB_ICONERROR);
    throw SilentExit(101);
}

WString RefusedTargetReason(const WString& dir)
{
    WString target;
    WString refused = WWLib::CanonicalPath(dir, target);
    if (!refused.empty())
        return refused;
    if (WWLib::IsReparsePoint(target))
        return kTargetIsLink;
    if (target.size() == 3 && target[1] == L':')
        target.erase(2);
    if (target.empty() || IsRoot(target))
        return L"it is the root of a drive";
    wchar_t windows[MAX_PATH + 1];
    UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH && SameOrBelow(target, ComparablePath(WString(windows, n))))
        return L"it is the Windows folder or lies in it";
    n = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH && SameOrBelow(target, ComparablePath(WString(windows, n))))
        return L"it is the Windows folder or lies in it";
    WString programFiles[] = {GetProgramFilesDir(), Environment(L"ProgramFiles"), Environment(L"ProgramFiles(x86)"),
                              Environment(L"ProgramW6432")};
    for (const WString& folder : programFiles)
        if (!folder.empty() && EqualNoCase(target, ComparablePath(folder)))
            return L"it is the Program Files folder itself";
    // The folder names the site, by the rule the package's programs follow
    // too; "Quendal-" alone names none.
    std::size_t start = 0;
    const std::size_t len = SiteName::SuffixOfDirectory(target.c_str(), target.size(), start);
    const WString site = WString(SiteName::kProduct) + target.substr(start, len);
    if (!SiteName::IsValid(site.c_str(), site.size())) {
        const WString folder = SplitAtLast(target, L'\\').tail;
        return L"its folder name '" + folder + L"' names no site ('" + Product::kName + L"-' must be followed by a name)";
    }
    return WString();
}
