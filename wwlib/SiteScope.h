#pragma once
// Where an action on a site may reach: the one rule for the product's
// uninstaller (what an entry's parameter list may make it do) and for the
// installer's journal (what a record may make the installer undo). The
// callers give the places in the installer's canonical path form (case
// ignored here); a place that is empty holds nothing. Header-only, over
// either string type, like the other rules the two programs share.
#include "Product.h"
#include <cstddef>
#include <cwctype>

namespace SiteScope {

template <class String>
bool Same(const String& a, const String& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return true;
}

// Strictly below `top`; nothing is below an empty top.
template <class String>
bool Below(const String& path, const String& top)
{
    if (top.empty() || path.size() <= top.size() + 1)
        return false;
    if (path[top.size()] != L'\\' && top[top.size() - 1] != L'\\')
        return false;
    return Same(path.substr(0, top.size()), top);
}

template <class String>
struct Places {
    String site;          // the site's name
    String dir;           // its folder; empty when the folder is not the site's own
    String startMenus[2]; // "Korvane <site>", the user's and the all users'
    String adminShortcut; // its Administrative Tools shortcut
};

// A program or file of the installation: inside the site's folder.
template <class String>
bool InFolder(const Places<String>& places, const String& path)
{
    return Below(path, places.dir);
}

// A shortcut of the site: in one of its Start-menu folders, or its
// Administrative Tools shortcut.
template <class String>
bool IsShortcut(const Places<String>& places, const String& path)
{
    return Below(path, places.startMenus[0]) || Below(path, places.startMenus[1]) ||
           (!places.adminShortcut.empty() && Same(path, places.adminShortcut));
}

// A folder a removal may remove (only ever when empty): the site's folder,
// one inside it or above it, or one of its Start-menu folders or inside
// them. Nothing while the site's folder is not its own.
template <class String>
bool IsFolderToRemove(const Places<String>& places, const String& path)
{
    const String& dir = places.dir;
    if (dir.empty())
        return false;
    bool menu = false;
    for (const String& folder : places.startMenus)
        menu = menu || (!folder.empty() && (Same(path, folder) || Below(path, folder)));
    return Same(path, dir) || Below(path, dir) || Below(dir, path) || menu;
}

// The site's service: named after the site (and, where the caller knows
// it, running a program inside the site's folder).
template <class String>
bool IsService(const Places<String>& places, const String& name)
{
    return Same(name, places.site);
}

// A registry key of the site (its path below HKEY_LOCAL_MACHINE): its
// uninstall entry or its key under the maker's, or a key inside them.
template <class String>
bool IsSiteKey(const Places<String>& places, const String& key)
{
    for (const wchar_t* parent : {kUninstallKey, kProductKey}) {
        String own = String(parent) + L"\\" + places.site;
        if (Same(key, own) || Below(key, own))
            return true;
    }
    return false;
}

} // namespace SiteScope
