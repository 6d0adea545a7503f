#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallSettings.h"
#include "../../upgrade/PreviousUninstaller.h"
#include "../../steps/KeptInstallation.h"
#include "../../upgrade/RestartAndResume.h"
#include "../../wwlib/AdministratorsFolder.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/FileHolders.h"
#include "../../nocrtlib/NoCrtCompare.h"
#include "../../wwlib/CanonicalPath.h"
#include "../../wwlib/InstallError.h"
#include "../../wwlib/Product.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include "../support/RunMode.h"
#include <doctest/doctest.h>
#include <aclapi.h>
#include <algorithm>
#include <fstream>
#include <vector>

using Test::W;
using Lines = std::vector<std::wstring>;

namespace {

// The removal as the installation sequence makes it: what the uninstaller
// removes is kept, and, since these runs never complete, put back when the
// call is done with. The service of these sites never ran.
bool RemovePrevious()
{
    KeptInstallation kept;
    return UninstallExisting(kept, false);
}

} // namespace

namespace {

// The pause after the uninstaller is waited out where it is what is tested;
// elsewhere it only makes the suite slower.
const bool kNoPause = (SetUninstallPause(0), true);
struct RealPause {
    RealPause() { SetUninstallPause(3000); }
    ~RealPause() { SetUninstallPause(0); }
};

const std::wstring kEntry = std::wstring(kUninstallKey) + L"\\Quendal-Test";
const wchar_t kUserRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring FakeUninstaller()
{
    return Test::OwnDirectory() + L"\\fake_uninstaller.exe";
}

// The stand-in's behaviour and the log of its command lines, for one test.
struct Fake {
    Test::TempDir dir;
    std::wstring log = dir.Path() + L"\\calls.txt";
    explicit Fake(const wchar_t* mode)
    {
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", mode);
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", log.c_str());
    }
    ~Fake()
    {
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", nullptr);
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", nullptr);
    }
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        std::ifstream in(Test::Narrow(log));
        for (std::string line; std::getline(in, line);)
            calls.push_back(line);
        return calls;
    }
};

// An installed site as an earlier installation registered it.
struct Registered {
    Test::ScopedRegKey key{HKEY_LOCAL_MACHINE, kEntry};
    Registered(const wchar_t* version, const std::wstring& uninstallString, const wchar_t* params = L" -feedback=yes")
    {
        if (*version)
            key.SetString(L"Version", version);
        key.SetString(L"UninstallString", uninstallString);
        key.SetString(L"UninstallParam", params);
    }
};
std::wstring RunValue(const wchar_t* name)
{
    wchar_t value[2048] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kUserRun, name, RRF_RT_REG_SZ, nullptr, value, &size))
        return L"(none)";
    return value;
}

// The stand-in laid down as the site's own uninstaller: uninst.exe in a
// folder named after the site, the only place a stored command may name.
struct SiteUninstaller {
    Test::TempDir root;
    std::wstring dir = root.Path() + L"\\Quendal-Test";
    std::wstring path = dir + L"\\uninst.exe";
    std::wstring stored = L"\"" + path + L"\" Quendal-Test ";
    SiteUninstaller()
    {
        REQUIRE(CreateDirectoryW(dir.c_str(), nullptr));
        REQUIRE(CopyFileW(FakeUninstaller().c_str(), path.c_str(), FALSE));
    }
};

struct Site {
    Site() { TheSiteName() = L"Quendal-Test"; }
    ~Site()
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kUserRun, L"Quendal-Test Installer");
        TheSiteName() = L"";
    }
};

} // namespace

TEST_CASE("versions compare part by part as numbers")
{
    CHECK(VersionBelow(L"5.17", L"5.18"));
    CHECK(VersionBelow(L"4.25", L"5.18"));
    CHECK(VersionBelow(L"5.1", L"5.18"));
    CHECK(VersionBelow(L"5.9", L"5.18"));
    CHECK(VersionBelow(L"5.2", L"5.18"));
    CHECK_FALSE(VersionBelow(L"5.18", L"5.18"));
    CHECK_FALSE(VersionBelow(L"10.0", L"5.18"));
    CHECK_FALSE(VersionBelow(L"6.0", L"5.18"));
    CHECK_FALSE(VersionBelow(L"5.18.0", L"5.18")); // a missing part is 0
    CHECK(VersionBelow(L"5.18", L"5.18.1"));
    CHECK(VersionBelow(L"5.18", L"5.18a"));        // then the rest of the part as text
    CHECK(VersionBelow(L"5.018", L"5.19"));        // leading zeros are the number's
    CHECK(VersionBelow(L"", L"5.18"));             // unreadable: older than any real one
    CHECK(VersionBelow(L"abc", L"0.1"));
    CHECK_FALSE(VersionBelow(L"99999999999999999999999.1", L"5.18")); // too long: the largest number
}

TEST_CASE("uninstaller results and their texts")
{
    CHECK(W(UninstallerResultError(0)) == L"");
    CHECK(W(UninstallerResultError(0x6)) == L"");
    CHECK(W(UninstallerResultError(0xFFFF)) == L"");
    CHECK(W(UninstallerResultError(0x40000)) == L"Uninstaller failed with error code 0x40000: Usage error");
    CHECK(W(UninstallerResultError(0x30000)) ==
          L"Uninstaller failed with error code 0x30000: Failed to delete the main file");
    CHECK(W(UninstallerResultError(0x20004)) == L"Uninstaller failed with error code 0x20004: Exception caught");
    CHECK(W(UninstallerResultError(0xC0000)) ==
          L"Uninstaller failed with error code 0xC0000: Loading uninstallation information failed");
    CHECK(W(UninstallerResultError(0x100000)) == L"Uninstaller failed with error code 0x100000");
}

TEST_CASE("the result channel")
{
    const std::wstring command = L"\"" + FakeUninstaller() + L"\" Quendal-Test";
    SUBCASE("the exit code is the result")
    {
        Fake fake(L"exit:0");
        CHECK(RunUninstallerWithResult(command.c_str()) == 0);
        Fake usage(L"exit:40000");
        CHECK(RunUninstallerWithResult(command.c_str()) == 0x40000);
    }
    SUBCASE("exit code 1: the result comes through the shared block")
    {
        Fake fake(L"channel:4");
        CHECK(RunUninstallerWithResult(command.c_str()) == 4);
        auto calls = fake.Calls();
        REQUIRE(calls.size() == 1);
        std::string call = calls[0];
        std::size_t result = call.find(" -unat -result=");
        REQUIRE(result != std::string::npos);
        CHECK(call.substr(0, result) == Test::Narrow(command));
        std::size_t done = call.find(" -done=", result);
        REQUIRE(done != std::string::npos);
        std::string mapping = call.substr(result + 15, done - result - 15);
        CHECK(mapping.find_first_not_of("0123456789ABCDEF") == std::string::npos);
        CHECK(mapping[0] != '0');
        CHECK(call.substr(call.size() - 25) == " -reinstall -skipUnregSvc");
    }
    SUBCASE("exit code 1 from a copy that reports later: the installer waits for it")
    {
        Fake fake(L"copy:2");
        CHECK(RunUninstallerWithResult(command.c_str()) == 2);
        CHECK(fake.Calls().size() == 2);
    }
    SUBCASE("an odd exit code and no result: a failure, not a wait without end")
    {
        for (const wchar_t* mode : {L"exit:1", L"exit:C0000005", L"exit:103"}) {
            CAPTURE(Test::Narrow(mode));
            Fake fake(mode);
            const DWORD started = GetTickCount();
            try {
                RunUninstallerWithResult(command.c_str());
                FAIL("no exception");
            } catch (const WStrException& e) {
                const std::wstring code = std::wstring(mode).substr(5);
                CHECK(std::wstring(e.Description().p) ==
                      L"The uninstaller ended with exit code 0x" + code + L" without reporting its result");
            }
            CHECK(GetTickCount() - started < 20000);
        }
    }
    SUBCASE("a program that cannot be started")
    {
        CHECK_THROWS_AS(RunUninstallerWithResult(L"\"C:\\no\\such\\uninst.exe\" x"), InstallError);
    }
}

TEST_CASE("removing the previous installation")
{
    Site site;
    SiteUninstaller own;
    const std::wstring stored = own.stored;

    SUBCASE("nothing registered, or no parameter list: nothing to remove")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK_FALSE(RemovePrevious());
        Registered entry(L"5.18", stored, L"");
        CHECK_FALSE(RemovePrevious());
        CHECK(console.Lines().empty());
    }
    SUBCASE("5.18 and newer: the stored uninstaller, then a pause until its processes ended, 3 seconds at most")
    {
        RealPause pause;
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        Registered entry(L"10.0", stored);
        struct Pause {
            const wchar_t* fake;
            DWORD least, most; // milliseconds
        };
        const Pause pauses[] = {
            {L"exit:0", 0, 1500},          // nothing of it left running: no pause
            {L"linger:1800", 1700, 2900},  // a process of it that ends later: until then
            {L"linger:10000", 2900, 4500}, // one that goes on: the 3 seconds
        };
        for (const Pause& p : pauses) {
            CAPTURE(Test::Narrow(p.fake));
            console.Clear();
            Fake fake(p.fake);
            DWORD start = GetTickCount();
            CHECK(RemovePrevious());
            const DWORD took = GetTickCount() - start;
            CHECK(took >= p.least);
            CHECK(took < p.most);
            CHECK(console.Lines() == Lines{L"Uninstalling the existing Quendal-Test 10.0 installation", L"", L""});
            REQUIRE(fake.Calls().size() >= 1);
            CHECK(fake.Calls()[0].rfind(Test::Narrow(stored) + " -unat -result=", 0) == 0);
        }
    }
    SUBCASE("a failure, unattended: 107 with the force hint, the period dropped")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        Registered entry(L"5.18", stored);
        Fake fake(L"exit:40000");
        CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 107);
        CHECK(console.Lines().back() == L"Uninstaller failed with error code 0x40000: Usage error (use /Force flag to "
                                        L"override uninstallation failure); aborting");
    }
    SUBCASE("a failure with -force: a warning, and the run goes on")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        Registered entry(L"5.18", stored);
        Fake fake(L"exit:30000");
        CHECK(RemovePrevious());
        CHECK(console.Lines().back() ==
              L"Warning: Uninstaller failed with error code 0x30000: Failed to delete the main file");
    }
    SUBCASE("a failure, interactive: the question; No ends with 107")
    {
        Test::RunMode mode(true);
        Test::ConsoleCapture console;
        Registered entry(L"5.18", stored);
        Fake fake(L"exit:40000");
        Test::MessageBoxAnswerer no(L"Uninstallation failure", IDNO);
        CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 107);
        CHECK(no.Texts() == Lines{L"Uninstaller failed with error code 0x40000: Usage error.\nDo you want to continue "
                                  L"with the installation anyway?"});
        CHECK(no.DefaultButtons() == std::vector<int>{IDNO});
        auto lines = console.Lines();
        CHECK(lines[lines.size() - 2] == L"Warning: Uninstaller failed with error code 0x40000: Usage error");
        CHECK(lines.back() == L"Installation canceled by user (uninstallation failure)");
    }
    SUBCASE("a restart asked for through the channel: 300, nothing written unattended")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        Registered entry(L"5.18", stored);
        Fake fake(L"channel:4");
        CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 300);
        auto lines = console.Lines();
        CHECK(Lines(lines.end() - 2, lines.end()) ==
              Lines{L"Windows restart is required before Quendal-Test reinstallation can be completed",
                    L"Please re-run Quendal installer after Windows is restarted"});
        CHECK(RunValue(L"Quendal-Test Installer") == L"(none)");
    }
    SUBCASE("a failure that also asks for a restart: overridden, then the restart")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        Registered entry(L"5.18", stored);
        Fake fake(L"exit:20004");
        CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 300);
        CHECK(console.Lines()[3] == L"Warning: Uninstaller failed with error code 0x20004: Exception caught");
    }
}

namespace {

// The folders the run made for its copies in the temporary folder.
std::vector<std::wstring> CopyFolders(const std::wstring& temp)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((temp + L"Quendal Setup-*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return found;
    do
        found.push_back(temp + fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return found;
}

void RemoveCopyFolders(const std::wstring& temp)
{
    for (const std::wstring& dir : CopyFolders(temp)) {
        DeleteFileW((dir + L"\\uninst.exe").c_str());
        RemoveDirectoryW(dir.c_str());
    }
}

} // namespace

TEST_CASE("older versions are removed by a temporary copy of the package's uninstaller")
{
    Site site;
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Registered entry(L"5.17", L"\"C:\\Old\\uninst.exe\" Quendal-Test ");
    wchar_t tempPath[MAX_PATH];
    GetTempPathW(MAX_PATH, tempPath);
    const std::wstring temp = tempPath;
    RemoveCopyFolders(temp);
    // A file a user put where the copy once went is neither overwritten nor run.
    const std::wstring planted = temp + L"uninst.exe";
    Test::WriteTextFile(planted, "planted");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    // The copy finds the entry of the site it is given and removes what its
    // parameter list names (here nothing).
    CHECK(RemovePrevious());
    CHECK(console.Lines() == Lines{L"Uninstalling the existing Quendal-Test 5.17 installation", L"", L""});
    CHECK(Test::ReadFileBytes(planted) == "planted");
    const std::vector<std::wstring> folders = CopyFolders(temp);
    REQUIRE(folders.size() == 1);
    const std::wstring copy = folders[0] + L"\\uninst.exe";
    CHECK(GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES);
    // The copy goes at the next restart, and its folder after it.
    // (The copy schedules itself once more when it ends.)
    const std::vector<std::wstring> pending = Test::PendingRestartOperations();
    std::wstring shown;
    for (const std::wstring& entry : pending)
        shown += entry + L"|";
    CAPTURE(Test::Narrow(shown));
    const auto file = std::find(pending.begin(), pending.end(), L"\\??\\" + copy);
    const auto folder = std::find(pending.begin(), pending.end(), L"\\??\\" + folders[0]);
    CHECK(file < folder);
    CHECK(folder != pending.end());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    RemoveCopyFolders(temp);
    DeleteFileW(planted.c_str());
}

TEST_CASE("a temporary copy: in a new folder only administrators may write, a new file, held until it runs")
{
    wchar_t tempPath[MAX_PATH];
    GetTempPathW(MAX_PATH, tempPath);
    const std::wstring temp = tempPath;
    Test::RunMode mode(false);
    TempPackageFiles first, second;
    CopyPackageFilesToTemp(1, first);
    CopyPackageFilesToTemp(1, second);
    // A folder of each run's own, never one that was there.
    CHECK(W(first.dir).rfind(temp + L"Quendal Setup-", 0) == 0);
    CHECK(W(first.dir) != W(second.dir));
    CHECK(W(first.uninstaller) == W(first.dir) + L"\\uninst.exe");
    PSECURITY_DESCRIPTOR sd = nullptr;
    REQUIRE(GetNamedSecurityInfoW(first.dir.c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                  nullptr, &sd) == ERROR_SUCCESS);
    CHECK(W(WWLib::AdministratorsFolder::Distrust(sd)) == L"");
    LocalFree(sd);
    // Nothing changes the program between its writing and its start.
    HANDLE writer = CreateFileW(first.uninstaller.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(writer == INVALID_HANDLE_VALUE);
    CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    CHECK_FALSE(DeleteFileW(first.uninstaller.c_str()));
    first.held.reset();
    second.held.reset();
    RemoveCopyFolders(temp);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
}

TEST_CASE("an uninstaller that cannot be started is a failure like any other")
{
    Site site;
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Registered entry(L"5.18", L"\"C:\\Old\\Quendal-Test\\uninst.exe\" Quendal-Test ");
    CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 107);
    std::wstring last = console.Lines().back();
    CHECK(last.rfind(L"Launching uninstaller failed: CreateProcessW() failed: Windows error ", 0) == 0);
    // The system text ends with a full stop, which goes before the hint.
    CHECK(last.find(L". (use /Force") == std::wstring::npos);
    CHECK(last.find(L" (use /Force flag to override uninstallation failure); aborting") != std::wstring::npos);
}

TEST_CASE("an entry's own command runs only when it is uninst.exe in the site's own folder")
{
    Site site;
    SiteUninstaller own;
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    struct Refused {
        std::wstring program;
        const wchar_t* installDir; // the entry's value; null: none
    };
    const Refused refused[] = {
        {L"uninst.exe", nullptr},                                       // no folder: found anywhere
        {L"Quendal-Test\\uninst.exe", nullptr},                          // relative
        {own.dir + L"\\other.exe", nullptr},                            // not the uninstaller
        {FakeUninstaller(), nullptr},                                   // another folder's program
        {own.root.Path() + L"\\Quendal-Other\\uninst.exe", nullptr},    // another site's folder
        {own.path, L"C:\\Elsewhere\\Quendal-Test"},                     // not the entry's folder
        {own.dir + L"\\..\\Quendal-Test\\uninst.exe", nullptr},         // a way round
        {std::wstring(windows) + L"\\Quendal-Test\\uninst.exe", nullptr}, // inside the Windows folder
    };
    for (const Refused& r : refused) {
        CAPTURE(Test::Narrow(r.program));
        Registered entry(L"5.18", L"\"" + r.program + L"\" Quendal-Test ");
        if (r.installDir)
            entry.key.SetString(L"InstallDir", r.installDir);
        Fake fake(L"exit:0");
        {
            Test::RunMode mode(false);
            Test::ConsoleCapture console;
            CHECK(Test::ExitCodeOf([] { RemovePrevious(); }) == 107);
            CHECK(console.Lines().back() == L"The previous uninstaller '" + r.program +
                                                L"' is not uninst.exe in the site's own folder (use /Force flag to "
                                                L"override uninstallation failure); aborting");
        }
        {
            Test::RunMode force(false, true);
            Test::ConsoleCapture console;
            CHECK(RemovePrevious());
            CHECK(console.Lines().back() == L"Warning: The previous uninstaller '" + r.program +
                                                L"' is not uninst.exe in the site's own folder");
        }
        CHECK(fake.Calls().empty());
    }
    // The site's own, with the entry naming its folder: it runs.
    Registered entry(L"5.18", own.stored);
    entry.key.SetString(L"InstallDir", own.dir);
    Fake fake(L"exit:0");
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    CHECK(RemovePrevious());
    CHECK(fake.Calls().size() == 1);
}

TEST_CASE("the interactive restart question answered No leaves the resume entry")
{
    Site site;
    Test::RunMode mode(true, true);
    InstallSettings& settings = TheInstallSettings();
    settings.installDir = L"C:\\Sites\\Quendal-Test";
    settings.noRollback = true;
    TheServerOptions().settingsFile = L"C:\\Settings\\x.qst";
    TheServerOptions().startService = true;
    Test::ConsoleCapture console;
    Test::MessageBoxAnswerer no(L"Windows restart is required", IDNO);
    CHECK(Test::ExitCodeOf([] { RestartForReinstall(); }) == 300);
    TheServerOptions() = ServerOptions();
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CHECK(RunValue(L"Quendal-Test Installer") ==
          L"\"" + std::wstring(self) +
              L"\" -interactive -acceptEULA -installDir=\"C:\\Sites\\Quendal-Test\" -force -noRollback "
              L"-settings=\"C:\\Settings\\x.qst\" -startService");
    CHECK(no.Texts() == Lines{L"Windows restart is required before Quendal-Test reinstallation can be completed. Quendal "
                              L"reinstallation will continue automatically when you log in again, after Windows "
                              L"restarts.\n\nDo you want to restart Windows now?"});
    CHECK(no.DefaultButtons() == std::vector<int>{IDNO});
    CHECK(console.Lines() == Lines{L"Windows restart is required before Quendal-Test reinstallation can be completed"});
    DeleteResumeEntry();
    CHECK(RunValue(L"Quendal-Test Installer") == L"(none)");
    CHECK(W(ResumeValueName(L"Quendal")) == L"Quendal Installer");
}

TEST_CASE("the restart question answered Yes: Wine's restart runs, the run still ends with 300")
{
    // Under Wine, ExitWindowsEx(EWX_REBOOT) starts "wineboot --end-session",
    // which ends the session and carries out the pending file operations as a
    // restart would; the calling process goes on and ends by itself.
    Site site;
    Test::TempDir dir;
    std::wstring doomed = dir.Path() + L"\\locked-before-restart.dll";
    Test::WriteTextFile(doomed, "x");
    REQUIRE(MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    Test::MessageBoxAnswerer yes(L"Windows restart is required", IDYES);
    Test::ChildResult r =
        Test::RunCaptured(L"\"" + Test::OwnDirectory() + L"\\restart_helper.exe\" C:\\Sites\\Quendal-Test");
    CHECK(r.exitCode == 300);
    CHECK(yes.Texts().size() == 1);
    CHECK(RunValue(L"Quendal-Test Installer").find(L"-installDir=\"C:\\Sites\\Quendal-Test\"") != std::wstring::npos);
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i, Sleep(100))
        gone = GetFileAttributesW(doomed.c_str()) == INVALID_FILE_ATTRIBUTES;
    CHECK(gone);
}

TEST_CASE("the programs that hold a file are found, a file nobody holds is not")
{
    Test::TempDir dir;
    const std::wstring free = dir.Path() + L"\\free.txt", held = dir.Path() + L"\\held.txt";
    Test::WriteTextFile(free, "nobody's");
    Test::WriteTextFile(held, "held");
    const std::wstring library = dir.Path() + L"\\QuendalLog.dll";
    REQUIRE(CopyFileW((Test::OwnDirectory() + L"\\regtest_with.dll").c_str(), library.c_str(), TRUE));
    struct Holder {
        const wchar_t* mode;
        std::wstring path;
        bool openAgainstDeletion;
    };
    const Holder holders[] = {
        {L"hold:", held, true},      // a handle that shares no deletion
        {L"load:", library, false},  // a loaded library: no such handle, but in use
    };
    for (const Holder& h : holders) {
        CAPTURE(Test::Narrow(h.mode));
        const std::wstring path = WWLib::CanonicalOrEmpty(WString(h.path.c_str())).c_str();
        Fake fake((h.mode + h.path).c_str());
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        std::wstring line = L"\"" + FakeUninstaller() + L"\"";
        REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        // Until the stand-in has it.
        WWLib::WStringList paths;
        paths.push_back(WString(path.c_str()));
        paths.push_back(WWLib::CanonicalOrEmpty(WString(free.c_str())));
        NoCrtVector<WWLib::HeldPath> found;
        for (int i = 0; i < 100; ++i) {
            found = WWLib::FindFileHolders(paths);
            if (found.size() == 2 && found[0].holders.size())
                break;
            Sleep(50);
        }
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        REQUIRE(found.size() == 2);
        CHECK(found[0].openAgainstDeletion == h.openAgainstDeletion);
        REQUIRE(found[0].holders.size() == 1);
        CHECK(found[0].holders[0].processId == pi.dwProcessId);
        CHECK(EqualNoCase(found[0].holders[0].program, WString(FakeUninstaller().c_str())));
        CHECK_FALSE(found[1].openAgainstDeletion);
        CHECK(found[1].holders.empty());
    }
}
