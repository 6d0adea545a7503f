// A machine with a hostile or foreign history: entries, folders and programs
// that are not this product's must never be run, written into or removed.
#include "../support/DialogDriver.h"
#include "../support/Installer.h"
#include "../support/Snapshot.h"
#include "../../nocrtlib/NoCrtCrc32.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <cstdio>
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

namespace {

std::vector<std::wstring> Split(const std::wstring& list)
{
    std::vector<std::wstring> parts;
    for (std::size_t at = 0; at <= list.size();) {
        std::size_t comma = list.find(L',', at);
        if (comma == std::wstring::npos)
            comma = list.size();
        parts.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return parts;
}

// An environment variable set for the children started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name), old_(Env(name))
    {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_, old_.empty() ? nullptr : old_.c_str()); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const wchar_t* name_;
    std::wstring old_;
};

} // namespace

TEST_CASE("hostile: libraries planted beside the installer and in its current folder never run")
{
    // A Downloads folder with the installer in it, and beside it a library
    // under the name of each one the installer or the system may load by
    // name; it is the current folder too. Wine takes the libraries it has
    // built in from itself: the run's "n,b" overrides make it search for them
    // as Windows does for a library outside its known set, beside the program
    // first. Without them this test could not fail.
    TempDir downloads(L"Downloads");
    TempDir markers(L"markers");
    const std::wstring installer = downloads.Path() + L"\\QuendalInstaller.exe";
    REQUIRE(CopyFileW(Env(L"QUENDAL_INSTALLER").c_str(), installer.c_str(), FALSE));
    const std::wstring overrides = Env(L"WINEDLLOVERRIDES");
    for (const std::wstring& name : Split(QUENDAL_PLANTED)) {
        REQUIRE(CopyFileW((OwnDirectory() + L"\\planted\\" + name + L".dll").c_str(),
                          (downloads.Path() + L"\\" + name + L".dll").c_str(), FALSE));
        CAPTURE(Narrow(overrides));
        REQUIRE(overrides.find(name + L"=n,b") != std::wstring::npos);
    }
    ScopedEnv markerDir(L"QUENDAL_MARKER_DIR", markers.Path());
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    REQUIRE(SetCurrentDirectoryW(downloads.Path().c_str()));

    // The dialog (with its Rich Edit control), cancelled.
    {
        CapturedChild dialog(L"\"" + installer + L"\"");
        HWND window = WaitForWindow(L"Korvane Quendal 5.18 Installer", 60000);
        CHECK(window != nullptr);
        if (window)
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        CHECK(dialog.Wait(60000).exitCode == 202);
    }
    // An unattended installation, all of it.
    ChildResult installed = RunCaptured(L"\"" + installer + L"\" -site=Quendal-Planted -acceptEULA", 120000);
    CHECK(installed.exitCode == 0);
    SetCurrentDirectoryW(previous);
    UninstallThroughEntry(L"Quendal-Planted");

    std::vector<std::wstring> ran;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((markers.Path() + L"\\*.ran").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do
            ran.push_back(found.cFileName);
        while (FindNextFileW(find, &found));
        FindClose(find);
    }
    CAPTURE(Narrow(installed.text));
    std::string names;
    for (const std::wstring& r : ran)
        names += Narrow(r) + " ";
    CAPTURE(names);
    CHECK(ran.empty());
}

namespace {

std::string Hex(const void* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<const unsigned char*>(data)[i];
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// An uninstall entry's values as a journal's 'U' record keeps them.
std::string SavedEntry(const std::vector<std::pair<std::wstring, std::wstring>>& values)
{
    std::string text;
    for (const auto& v : values) {
        if (!text.empty())
            text += ',';
        const std::wstring data = v.second + L'\0';
        text += Hex(v.first.c_str(), v.first.size() * 2) + ".1." + Hex(data.c_str(), data.size() * 2);
    }
    return text;
}

// One journal line as the installer writes it: checksum, record, CR LF.
std::string JournalLine(const std::string& record)
{
    char crc[9];
    std::snprintf(crc, sizeof(crc), "%08X", NoCrtCrc32(record.c_str(), record.size()));
    return std::string(crc) + " " + record + "\r\n";
}

std::wstring JournalFolder()
{
    wchar_t data[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE);
    return std::wstring(data) + L"\\Korvane Quendal Setup";
}

} // namespace

TEST_CASE("hostile: a journal planted by a user, or one that gives back a foreign entry, runs nothing")
{
    // What a standard user may make: folders under the public profile, with
    // a program and a file to be deleted, and an entry that names them as
    // the default site's previous installation.
    const std::wstring evil = Env(L"PUBLIC") + L"\\evil", planted = Env(L"PUBLIC") + L"\\planted";
    const std::wstring marker = evil + L"\\marker.exe", bait = evil + L"\\bait.txt", log = evil + L"\\ran.log";
    REQUIRE(CreateDirectoryW(evil.c_str(), nullptr));
    REQUIRE(CreateDirectoryW(planted.c_str(), nullptr));
    REQUIRE(CopyFileW((OwnDirectory() + L"\\fake_uninstaller.exe").c_str(), marker.c_str(), FALSE));
    WriteTextFile(bait, "the user's");
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", log.c_str());
    const std::wstring entryKey = kUninstall + L"Quendal";
    auto record = [&](const std::wstring& dir) {
        return JournalLine("U|" + Narrow(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quendal") + "|" +
                           SavedEntry({{L"Version", L"1.0"},
                                       {L"UninstallString", L"\"" + dir + L"\\uninst.exe\" Quendal"},
                                       {L"InstallDir", dir},
                                       {L"RunAfterRestore", marker},
                                       {L"UninstallParam", L" -feedback=yes \"-workDir=" + dir +
                                                               L"\" \"-execUninst=" + marker + L"\" \"-delFile=" +
                                                               bait + L"\""}}));
    };
    const std::wstring folder = JournalFolder();

    SUBCASE("the journal folder is a user's link")
    {
        const std::string journal = record(evil);
        WriteTextFile(planted + L"\\Quendal.journal", journal);
        MakeLink(planted, folder);
        ChildResult run = Install(L"-installDir=C:\\Q -acceptEULA");
        CAPTURE(Narrow(run.text));
        CHECK(run.exitCode == 0);
        CHECK(Contains(LinesOf(run), L"Warning: the installation journal cannot be read (The folder '" + folder +
                                         L"' is not the installer's own (it is a link)); it is passed over"));
        CHECK_FALSE(Contains(LinesOf(run), L"Uninstalling the existing Quendal 1.0 installation"));
        CHECK(ReadFileBytes(bait) == "the user's");
        CHECK_FALSE(Exists(log));
        // Nothing of the run's own went into the user's folder.
        CHECK(ReadFileBytes(planted + L"\\Quendal.journal") == journal);
        CHECK(RegString(HKEY_LOCAL_MACHINE, entryKey, L"Version") == L"5.18");
        UninstallThroughEntry(L"Quendal");
        CHECK(ReadFileBytes(planted + L"\\Quendal.journal") == journal);
        RemoveLink(folder);
        for (unsigned n = 1; n < 4; ++n)
            RemoveLink(folder + L" (not the installer's " + std::to_wstring(n) + L")");
    }
    SUBCASE("the installer's own journal gives back an entry whose uninstaller is not the product's")
    {
        // A folder named as the default site's gives back its name: the
        // entry is refused for the program it names, not for its place.
        const std::wstring dir = Env(L"PUBLIC") + L"\\Quendal";
        REQUIRE(CreateDirectoryW(dir.c_str(), nullptr));
        REQUIRE(CopyFileW(marker.c_str(), (dir + L"\\uninst.exe").c_str(), FALSE));
        REQUIRE(CreateDirectoryW(folder.c_str(), nullptr));
        WriteTextFile(folder + L"\\Quendal.journal", record(dir));
        ChildResult refused = Install(L"-installDir=C:\\Q -acceptEULA");
        CAPTURE(Narrow(refused.text));
        CHECK(refused.exitCode == 107);
        CHECK(Contains(LinesOf(refused), L"Rollback: restoring the previous uninstall entry " + entryKey));
        // The stand-in names the product in its version resource, as a
        // copy of the real one would; it is not signed by the signer.
        CHECK(Contains(LinesOf(refused), L"The previous uninstaller '" + dir +
                                             L"\\uninst.exe' is not signed by this installer's signer (use /Force "
                                             L"flag to override uninstallation failure); aborting"));
        CHECK(ReadFileBytes(bait) == "the user's");
        CHECK_FALSE(Exists(log));
        // Only what the installer writes came back.
        CHECK(RegString(HKEY_LOCAL_MACHINE, entryKey, L"Version") == L"1.0");
        CHECK(RegString(HKEY_LOCAL_MACHINE, entryKey, L"RunAfterRestore") == L"(none)");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, entryKey.c_str());
        DeleteTree(dir);
        DeleteTree(folder);
    }
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", nullptr);
    DeleteTree(evil);
    DeleteTree(planted);
}
