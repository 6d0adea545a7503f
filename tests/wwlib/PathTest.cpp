#include "../../wwlib/CanonicalPath.h"
#include "../../wwlib/FileLinks.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <string>

namespace {

std::wstring Canonical(const std::wstring& path, bool fromCurrent = false)
{
    WString out = L"untouched";
    WString refused = WWLib::CanonicalPath(path.c_str(), out, fromCurrent);
    return refused.empty() ? Test::W(out) : L"refused: " + Test::W(refused);
}

} // namespace

TEST_CASE("the canonical form of a path: one form for every way of naming a folder")
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring win = windows;
    Test::TempDir temp(L"A Long Folder Name");
    wchar_t shortName[MAX_PATH];
    REQUIRE(GetShortPathNameW(temp.Path().c_str(), shortName, MAX_PATH) > 0);
    REQUIRE(std::wstring(shortName) != temp.Path());

    struct Row {
        std::wstring path, canonical;
    };
    const Row rows[] = {
        {L"C:\\Sites\\Quendal-A", L"C:\\Sites\\Quendal-A"},
        {L"C:\\Sites\\Quendal-A\\\\", L"C:\\Sites\\Quendal-A"},
        {L"C:/Sites/x/../Quendal-A", L"C:\\Sites\\Quendal-A"},
        {L"C:\\", L"C:\\"},
        {L"\\\\?\\" + win + L"\\Quendal-W", win + L"\\Quendal-W"},
        {L"\\\\.\\" + win + L"\\Quendal-W", win + L"\\Quendal-W"},
        {L"\\\\?\\UNC\\server\\share\\Quendal", L"\\\\server\\share\\Quendal"},
        {L"\\\\server\\share\\Quendal\\", L"\\\\server\\share\\Quendal"},
        // Short names become long for what exists, also below a part that does not.
        {shortName, temp.Path()},
        {std::wstring(shortName) + L"\\not there\\x", temp.Path() + L"\\not there\\x"},
        // Refused: what is no folder, or not the folder it names.
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", L"refused: it is a device path"},
        {L"\\\\.\\PhysicalDrive0", L"refused: it is a device path"},
        {L"relative\\Quendal", L"refused: it is not an absolute path"},
        {L"\\Quendal", L"refused: it is not an absolute path"},
        {L"C:Quendal", L"refused: it is not an absolute path"},
        {L"C:\\Sites.\\Quendal", L"refused: a folder name ends with a dot or a space"},
        {L"C:\\Sites\\Quendal ", L"refused: a folder name ends with a dot or a space"},
        {L"C:\\Sites\\Quendal. .", L"refused: a folder name ends with a dot or a space"},
        {L"C:\\Sites\\a?b", L"refused: a folder name holds a character that names may not hold"},
        {L"C:\\Sites\\C:\\x", L"refused: a folder name holds a character that names may not hold"},
    };
    for (const Row& row : rows) {
        CAPTURE(Test::Narrow(row.path));
        CHECK(Canonical(row.path) == row.canonical);
    }
    // A command line's relative folder: from the current directory.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring base = current;
    if (base.back() == L'\\')
        base.pop_back();
    CHECK(Canonical(L"relative\\Quendal", true) == base + L"\\relative\\Quendal");
    CHECK(Canonical(L"relative.\\Quendal", true) == L"refused: a folder name ends with a dot or a space");
}

TEST_CASE("links: never followed by a removal, wherever they stand on the way")
{
    Test::TempDir site, victim;
    const std::wstring target = victim.Path() + L"\\target";
    REQUIRE(CreateDirectoryW(target.c_str(), nullptr));
    Test::WriteTextFile(target + L"\\file.txt", "someone else's");
    Test::WriteTextFile(victim.Path() + L"\\single.txt", "someone else's");
    REQUIRE(CreateDirectoryW((site.Path() + L"\\real").c_str(), nullptr));
    Test::WriteTextFile(site.Path() + L"\\real\\own.txt", "ours");
    const std::wstring dirLink = site.Path() + L"\\linked", fileLink = site.Path() + L"\\single.txt";
    Test::MakeLink(target, dirLink);
    Test::MakeLink(victim.Path() + L"\\single.txt", fileLink);

    const WString top = site.Path().c_str();
    CHECK(WWLib::IsReparsePoint(dirLink.c_str()));
    CHECK_FALSE(WWLib::IsReparsePoint((site.Path() + L"\\real").c_str()));
    CHECK(WWLib::ReachedThroughLink((dirLink + L"\\file.txt").c_str(), top));
    CHECK(WWLib::ReachedThroughLink(fileLink.c_str(), top) != WWLib::IsReparsePoint(fileLink.c_str()));
    CHECK_FALSE(WWLib::ReachedThroughLink((site.Path() + L"\\real\\own.txt").c_str(), top));
    CHECK_FALSE(WWLib::ReachedThroughLink(dirLink.c_str(), top)); // the link itself
    CHECK_FALSE(WWLib::ReachedThroughLink((site.Path() + L"\\gone.txt").c_str(), top));

    // Through a folder link, and a file link that shows no reparse attribute
    // (Wine's), nothing is deleted; on Windows the file link itself goes.
    CHECK_FALSE(WWLib::DeleteFileNotLink(WString((dirLink + L"\\file.txt").c_str()), top));
    CHECK(GetLastError() == ERROR_CANT_RESOLVE_FILENAME);
    WWLib::DeleteFileNotLink(WString(fileLink.c_str()), top);
    CHECK(Test::ReadFileBytes(target + L"\\file.txt") == "someone else's");
    CHECK(Test::ReadFileBytes(victim.Path() + L"\\single.txt") == "someone else's");
    // A file of our own, made read-only since, goes.
    SetFileAttributesW((site.Path() + L"\\real\\own.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CHECK(WWLib::DeleteFileNotLink(WString((site.Path() + L"\\real\\own.txt").c_str()), top));

    // A top that is a drive's root (the parent of an installation folder
    // right below it, written "C:" or "C:\\"): a link right below the root
    // is on the way, however deep the path goes on; a plain folder is not.
    const std::wstring rootLink = L"C:\\QuendalRootLink", rootReal = L"C:\\QuendalRootReal";
    REQUIRE(CreateDirectoryW((target + L"\\sub").c_str(), nullptr));
    Test::WriteTextFile(target + L"\\sub\\deep.txt", "someone else's");
    Test::MakeLink(target, rootLink);
    REQUIRE(CreateDirectoryW(rootReal.c_str(), nullptr));
    REQUIRE(CreateDirectoryW((rootReal + L"\\sub").c_str(), nullptr));
    Test::WriteTextFile(rootReal + L"\\sub\\own.txt", "ours");
    for (const wchar_t* root : {L"C:", L"C:\\"}) {
        CAPTURE(Test::Narrow(root));
        CHECK(WWLib::ReachedThroughLink((rootLink + L"\\sub\\deep.txt").c_str(), root));
        CHECK(WWLib::ReachedThroughLink((rootLink + L"\\file.txt").c_str(), root));
        CHECK_FALSE(WWLib::ReachedThroughLink(rootLink.c_str(), root)); // the link itself
        CHECK_FALSE(WWLib::ReachedThroughLink((rootReal + L"\\sub\\own.txt").c_str(), root));
        CHECK_FALSE(WWLib::ReachedThroughLink(rootReal.c_str(), root));
    }
    CHECK_FALSE(WWLib::DeleteFileNotLink(WString((rootLink + L"\\sub\\deep.txt").c_str()), L"C:\\"));
    CHECK(Test::ReadFileBytes(target + L"\\sub\\deep.txt") == "someone else's");
    Test::RemoveLink(rootLink);
    Test::DeleteTree(rootReal);

    if (GetFileAttributesW(fileLink.c_str()) != INVALID_FILE_ATTRIBUTES)
        Test::RemoveLink(fileLink);
    Test::RemoveLink(dirLink);
}
