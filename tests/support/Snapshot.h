#pragma once
// A picture of the parts of the machine an installation changes: the files
// outside the Windows folder and the temporary folders, the uninstall
// entries, the maker's key, the Run keys, the product's services and its COM
// class.
// Two pictures compare by their differences.
#include <map>
#include <string>
#include <vector>

namespace Test {

struct Snapshot {
    std::map<std::wstring, std::wstring> entries; // path → size or value

    static Snapshot Take();
    // The files and folders below one folder alone (a drive's: "E:").
    static Snapshot Folder(const std::wstring& dir);
    // The entries added, removed or changed since `before`, one line each,
    // leaving out those named in `ignored`: an entry's path, or with a
    // trailing '*' a path prefix.
    std::vector<std::wstring> Differences(const Snapshot& before, const std::vector<std::wstring>& ignored) const;
};

// The maker's key itself: made before any step and never removed. What lies
// below it is the sites' and is compared.
constexpr const wchar_t* kMakerKeyEntry = L"reg:HKLM\\SOFTWARE\\Korvane\\";

// What stays after the product's uninstaller removed a site, as entries to
// leave out: the maker's key, and the server's own data, which a later
// installation of the site takes up again: its Config folder (with the
// installation directory that holds it) and the site's key with its
// first-run flag.
std::vector<std::wstring> KeptAfterRemoval(const std::wstring& dir, const std::wstring& site);

} // namespace Test
