#include "../../steps/DeferredFileOps.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <vector>

using Test::W;

namespace {

using Test::ClearPendingRestartOperations;
using Test::RestartWine;

std::wstring ShortName(const std::wstring& path)
{
    wchar_t buf[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buf, MAX_PATH);
    return buf;
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
    ClearPendingRestartOperations();
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
    REQUIRE(Test::PendingRestartOperations().size() == 8);
    CHECK(PendingDeletions(true).Names(file.c_str()));
    CHECK(PendingDeletions(true).Names(ShortName(other).c_str()));
    CHECK_FALSE(PendingDeletions(false).Names(file.c_str()));

    CHECK(IsPendingDelete(file.c_str()));
    CHECK(IsPendingDelete(ShortName(other).c_str()));
    CHECK_FALSE(IsPendingDelete(dir.Path().c_str()));
    SUBCASE("named by its long path")
    {
        CHECK(CancelPendingDelete(file.c_str()));
    }
    SUBCASE("named by its short path")
    {
        CHECK(CancelPendingDelete(ShortName(file).c_str()));
    }
    std::vector<std::wstring> left = Test::PendingRestartOperations();
    REQUIRE(left.size() == 4);
    CHECK(left[0] == L"\\??\\" + other);
    CHECK(left[1] == L"");
    CHECK(left[2] == L"\\??\\" + file);
    CHECK(left[3] == L"\\??\\" + dir.Path() + L"\\renamed.dll");
    CHECK_FALSE(CancelPendingDelete(file.c_str())); // nothing more to cancel
    ClearPendingRestartOperations();
}

TEST_CASE("a path that does not exist leaves the list untouched")
{
    ClearPendingRestartOperations();
    Test::TempDir dir;
    std::wstring file = dir.Path() + L"\\gone.dll";
    Test::WriteTextFile(file, "x");
    REQUIRE(MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK_FALSE(CancelPendingDelete((dir.Path() + L"\\never-there.dll").c_str()));
    CHECK(Test::PendingRestartOperations().size() == 2);
    CHECK_FALSE(CancelPendingDelete(L""));

    // Deleted by hand while its deletion is pending: nothing to compare until
    // the file is there again, then it is found and cancelled.
    REQUIRE(DeleteFileW(file.c_str()));
    CHECK_FALSE(IsPendingDelete(file.c_str()));
    CHECK_FALSE(CancelPendingDelete(file.c_str()));
    Test::WriteTextFile(file, "new");
    CHECK(IsPendingDelete(file.c_str()));
    CHECK(CancelPendingDelete(file.c_str()));
    CHECK_FALSE(IsPendingDelete(file.c_str()));
    CHECK(Test::PendingRestartOperations().empty());

    // Nothing pending at all, then a rename alone: no deletion.
    CHECK_FALSE(PendingDeletions(true).Names(file.c_str()));
    REQUIRE(MoveFileExW(file.c_str(), (dir.Path() + L"\\moved.dll").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK_FALSE(PendingDeletions(true).Names(file.c_str()));
    ClearPendingRestartOperations();
    CHECK_FALSE(CancelPendingDelete(file.c_str())); // no value at all
    CHECK_FALSE(PendingDeletions(true).Names(file.c_str()));
}

TEST_CASE("a scheduled deletion happens at the restart; a cancelled one does not")
{
    ClearPendingRestartOperations();
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
    CHECK(Test::PendingRestartOperations().empty());
}
