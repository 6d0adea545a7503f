#include "../../steps/DeferredFileOps.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <vector>

using Test::W;

namespace {

// The pending operations, each string as it is stored.
std::vector<std::wstring> Pending()
{
    std::vector<std::wstring> entries;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key))
        return entries;
    std::vector<wchar_t> data(32768);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    LONG r = RegQueryValueExW(key, kPendingRenamesValue, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                              &size);
    RegCloseKey(key);
    if (r)
        return entries;
    std::size_t n = size / sizeof(wchar_t);
    if (n >= 2 && data[n - 2] == 0)
        --n;
    for (std::size_t pos = 0; pos < n;) {
        std::wstring s(data.data() + pos);
        entries.push_back(s);
        pos += s.size() + 1;
    }
    return entries;
}

void ClearPending()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueW(key, kPendingRenamesValue);
        RegCloseKey(key);
    }
}

std::wstring ShortName(const std::wstring& path)
{
    wchar_t buf[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buf, MAX_PATH);
    return buf;
}

// Wine's own restart: wineboot carries out the pending operations.
void RestartWine()
{
    Test::ChildResult r = Test::RunCaptured(L"C:\\windows\\system32\\wineboot.exe --restart", 120000);
    REQUIRE(r.exitCode == 0);
}

} // namespace

TEST_CASE("path queries")
{
    Test::TempDir dir;
    std::wstring file = dir.Path() + L"\\f.txt";
    Test::WriteTextFile(file, "x");
    CHECK(PathExists(file.c_str()));
    CHECK_FALSE(IsDirectory(file.c_str()));
    CHECK(IsDirectory(dir.Path().c_str()));
    CHECK_FALSE(PathExists((dir.Path() + L"\\none").c_str()));
    CHECK_FALSE(IsDirectory((dir.Path() + L"\\none").c_str()));
}

TEST_CASE("cancelling pending deletions compares short forms and leaves renames alone")
{
    ClearPending();
    Test::TempDir dir(L"Program Files Long Name");
    std::wstring file = dir.Path() + L"\\library file.dll";
    std::wstring other = dir.Path() + L"\\other.dll";
    Test::WriteTextFile(file, "x");
    Test::WriteTextFile(other, "y");
    // Two deletions of the file (by its long and its short name), one of
    // another file, and a rename whose source is the file.
    REQUIRE(MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    REQUIRE(MoveFileExW(other.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    REQUIRE(MoveFileExW(file.c_str(), (dir.Path() + L"\\renamed.dll").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
    REQUIRE(MoveFileExW(ShortName(file).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    REQUIRE(Pending().size() == 8);

    SUBCASE("named by its long path")
    {
        CHECK(CancelPendingDelete(file.c_str()));
    }
    SUBCASE("named by its short path")
    {
        CHECK(CancelPendingDelete(ShortName(file).c_str()));
    }
    std::vector<std::wstring> left = Pending();
    REQUIRE(left.size() == 4);
    CHECK(left[0] == L"\\??\\" + other);
    CHECK(left[1] == L"");
    CHECK(left[2] == L"\\??\\" + file);
    CHECK(left[3] == L"\\??\\" + dir.Path() + L"\\renamed.dll");
    CHECK_FALSE(CancelPendingDelete(file.c_str())); // nothing more to cancel
    ClearPending();
}

TEST_CASE("a path that does not exist leaves the list untouched")
{
    ClearPending();
    Test::TempDir dir;
    std::wstring file = dir.Path() + L"\\gone.dll";
    Test::WriteTextFile(file, "x");
    REQUIRE(MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK_FALSE(CancelPendingDelete((dir.Path() + L"\\never-there.dll").c_str()));
    CHECK(Pending().size() == 2);
    CHECK_FALSE(CancelPendingDelete(L""));
    ClearPending();
    CHECK_FALSE(CancelPendingDelete(file.c_str())); // no value at all
}

TEST_CASE("a scheduled deletion happens at the restart; a cancelled one does not")
{
    ClearPending();
    Test::TempDir dir;
    std::wstring doomed = dir.Path() + L"\\doomed.dll";
    std::wstring kept = dir.Path() + L"\\kept.dll";
    std::wstring emptyDir = dir.Path() + L"\\empty";
    Test::WriteTextFile(doomed, "x");
    Test::WriteTextFile(kept, "y");
    REQUIRE(CreateDirectoryW(emptyDir.c_str(), nullptr));
    CHECK(ScheduleDeleteOnReboot(doomed.c_str()));
    CHECK(ScheduleDeleteOnReboot(ShortName(kept).c_str()));
    CHECK(ScheduleDeleteOnReboot(emptyDir.c_str()));
    CHECK(CancelPendingDelete(kept.c_str()));
    RestartWine();
    CHECK_FALSE(PathExists(doomed.c_str()));
    CHECK_FALSE(PathExists(emptyDir.c_str()));
    CHECK(PathExists(kept.c_str()));
    CHECK(Pending().empty());
}
