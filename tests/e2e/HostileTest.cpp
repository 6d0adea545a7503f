// A machine with a hostile or foreign history: entries, folders and programs
// that are not this product's must never be run, written into or removed.
#include "../support/Installer.h"
#include "../support/Snapshot.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <string>
#include <vector>

using namespace Test;

TEST_CASE("hostile: another program's folder named by the default site's entry is not the site's")
{
    // Another product's folder, whose uninstaller has the common file name,
    // and an entry of the default site's name that points at it.
    const std::wstring other = L"C:\\OtherApp", log = other + L"\\ran.log";
    REQUIRE(CreateDirectoryW(other.c_str(), nullptr));
    WriteTextFile(other + L"\\data.db", "another program's");
    // Not the product's: Wine's notepad as the other program's own program.
    REQUIRE(CopyFileW((Env(L"WINDIR") + L"\\system32\\notepad.exe").c_str(), (other + L"\\uninst.exe").c_str(),
                      FALSE));
    ScopedRegKey entry(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal");
    entry.SetString(L"Version", L"9.0");
    entry.SetString(L"InstallDir", other);
    entry.SetString(L"UninstallString", L"\"" + other + L"\\uninst.exe\" Quendal");
    entry.SetString(L"UninstallParam", L" -feedback=yes \"-workDir=" + other + L"\" \"-delFile=" + other +
                                           L"\\data.db\"");
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", log.c_str());

    ChildResult refused = Install(L"-site=Quendal -acceptEULA");
    const std::string output = Narrow(refused.text);
    CAPTURE(output);
    CHECK(refused.exitCode == 107);
    CHECK(LinesOf(refused).back() == L"The previous uninstaller '" + other +
                                         L"\\uninst.exe' is not Korvane Quendal's (use /Force flag to override "
                                         L"uninstallation failure); aborting");

    // With -force the site goes where it would without the entry, and the
    // other program keeps its folder as it was.
    ChildResult forced = Install(L"-site=Quendal -acceptEULA -force");
    CHECK(forced.exitCode == 0);
    wchar_t programFiles[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
    const std::wstring dir = std::wstring(programFiles) + L"\\Quendal";
    CHECK(Contains(LinesOf(forced), L"Installing " + dir + L"\\Quendal.exe"));
    CHECK(ReadFileBytes(other + L"\\data.db") == "another program's");
    CHECK_FALSE(Exists(other + L"\\Quendal.exe"));
    CHECK_FALSE(Exists(log));
    UninstallThroughEntry(L"Quendal");
    CHECK(ReadFileBytes(other + L"\\data.db") == "another program's");
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", nullptr);
}
