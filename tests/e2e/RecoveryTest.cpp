// Recovery that never destroys: what a completed, killed or interrupted run
// leaves, and what the next run or the uninstaller makes of it, on a machine
// with a history (the administrator's own files, links planted since).
#include "../support/Installer.h"
#include "../support/MessageBoxes.h"
#include "../support/Snapshot.h"
#include <doctest/doctest.h>
#include <sddl.h>
#include <shlobj.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace Test;

namespace {

// Whether a site's journal is there and reads as a run's that did not end
// (its last record is not the end record).
bool JournalOpen(const std::wstring& site);

std::wstring JournalOf(const std::wstring& site)
{
    wchar_t data[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE);
    return std::wstring(data) + L"\\Korvane Quendal Setup\\" + site + L".journal";
}

bool JournalOpen(const std::wstring& site)
{
    if (!Exists(JournalOf(site)))
        return false;
    std::string bytes = ReadFileBytes(JournalOf(site));
    return bytes.size() < 14 || bytes.compare(bytes.size() - 5, 5, " E|\r\n") != 0;
}

// What an administrator puts into the server's folder once it runs.
void AdministratorsData(const std::wstring& config)
{
    WriteTextFile(config + L"\\hostkey", "the host key");
    WriteTextFile(config + L"\\Quendal-Settings.qst", "Port=2222\r\n");
}

void CheckAdministratorsData(const std::wstring& config)
{
    CHECK(ReadFileBytes(config + L"\\hostkey") == "the host key");
    CHECK(ReadFileBytes(config + L"\\Quendal-Settings.qst") == "Port=2222\r\n");
}

bool SaysRecovered(const ChildResult& r, const std::wstring& site)
{
    return Contains(LinesOf(r), L"An earlier installation of " + site + L" did not finish; undoing what it changed");
}

// The same command again, after a run that completed: it installs, and finds
// nothing to undo.
void InstallAgainAsCompleted(const std::wstring& command, const std::wstring& site, const std::wstring& config)
{
    ChildResult again = Install(command);
    CHECK(again.exitCode == 0);
    CHECK_FALSE(SaysRecovered(again, site));
    CheckAdministratorsData(config);
}

} // namespace

TEST_CASE("recovery: a completed installation is never taken for an unfinished one")
{
    const std::wstring site = L"Quendal-Done", dir = L"C:\\Sites\\" + site, config = dir + L"\\Config";
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);

    SUBCASE("ended while the completion box is up")
    {
        {
            CapturedChild child(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command + L" -interactive");
            HWND box = nullptr;
            for (int i = 0; i < 1200 && !box; ++i) {
                box = FindWindowW(L"#32770", L"Installation Completed");
                if (!box)
                    Sleep(50);
            }
            REQUIRE(box != nullptr);
            // The box says so only once the journal has ended.
            CHECK_FALSE(JournalOpen(site));
            TerminateProcess(child.Process(), 1);
            WaitForSingleObject(child.Process(), 10000);
        }
        CHECK_FALSE(JournalOpen(site));
        REQUIRE((CreateDirectoryW(config.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS));
        AdministratorsData(config);
        InstallAgainAsCompleted(command, site, config);
    }
    SUBCASE("removed by its uninstaller, then installed again")
    {
        REQUIRE(Install(command).exitCode == 0);
        CHECK_FALSE(JournalOpen(site));
        AdministratorsData(config);
        // A journal an earlier version left behind, which the uninstaller of
        // the site removes with it.
        const std::wstring key = L"SOFTWARE\\Korvane\\" + site;
        std::wstring stale = L"T|" + config + L'\0' + L'\0';
        REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"InstallJournal", REG_MULTI_SZ, stale.c_str(),
                                static_cast<DWORD>(stale.size() * sizeof(wchar_t))) == ERROR_SUCCESS);
        UninstallThroughEntry(site);
        CHECK(RegString(HKEY_LOCAL_MACHINE, key, L"InstallJournal") == L"(none)");
        CHECK_FALSE(Exists(JournalOf(site)));
        CheckAdministratorsData(config);
        InstallAgainAsCompleted(command, site, config);
    }
    UninstallThroughEntry(site);
    DeleteTree(dir);
}

TEST_CASE("recovery: the server's folder keeps what the killed run did not write, and links are not followed")
{
    const std::wstring site = L"Quendal-Link", dir = L"C:\\Sites\\" + site, config = dir + L"\\Config";
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    TempDir victim;
    WriteTextFile(victim.Path() + L"\\Quendal-Settings.qst", "someone else's");
    WriteTextFile(victim.Path() + L"\\data.db", "someone else's");

    // A run left in place just before its server's command ends: the journal
    // names the Config folder as the run's own.
    {
        ForcedExit failing(L"Quendal.exe:-install=5");
        ChildResult r = Install(command + L" -noRollback");
        REQUIRE(r.exitCode == 5);
    }
    REQUIRE_FALSE(Exists(config));
    // Between that run and the next, a link where the folder would be.
    MakeLink(victim.Path(), config);

    ChildResult again = Install(command);
    const std::string output = Narrow(again.text);
    CAPTURE(output);
    CHECK(again.exitCode == 0);
    CHECK(SaysRecovered(again, site));
    CHECK(ReadFileBytes(victim.Path() + L"\\data.db") == "someone else's");
    CHECK(ReadFileBytes(victim.Path() + L"\\Quendal-Settings.qst") == "someone else's");
    if (GetFileAttributesW(config.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        RemoveLink(config); // Wine cannot remove it itself (docs/wine-differences.md)
    UninstallThroughEntry(site);
    CHECK(ReadFileBytes(victim.Path() + L"\\data.db") == "someone else's");
    DeleteTree(dir);
}

TEST_CASE("recovery: one installer at a time on the machine")
{
    const std::wstring site = L"Quendal-One", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA";
    const std::wstring busy = L"Another installation or removal of Quendal is running on this computer; try again "
                              L"when it has finished.";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    // An installed site whose uninstaller is run on its own meanwhile.
    const std::wstring otherDir = L"C:\\Sites\\Quendal-Two";
    Snapshot before = Snapshot::Take();
    REQUIRE(Install(L"-installDir=" + otherDir + L" -acceptEULA").exitCode == 0);

    SUBCASE("a second installer, and the uninstaller, while one installs")
    {
        {
            ForcedExit hang(L"QuendalCfgManip.exe:/RegServer=hang");
            CapturedChild first(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command);
            REQUIRE(first.WaitForLine(L"Registering server "));
            for (const std::wstring& args : {command, std::wstring(L"-installDir=C:\\Sites\\Quendal-Three -acceptEULA")}) {
                ChildResult second = Install(args);
                CHECK(second.exitCode == 204);
                CHECK(LinesOf(second) == std::vector<std::wstring>{busy});
            }
            // The uninstaller as its copy in the temporary folder runs, on its own.
            TempDir temp;
            REQUIRE(CopyFileW((otherDir + L"\\uninst.exe").c_str(), (temp.Path() + L"\\uninst.exe").c_str(), FALSE));
            ChildResult removal = RunCaptured(L"\"" + temp.Path() + L"\\uninst.exe\" Quendal-Two -unat");
            CHECK(removal.exitCode == 0x100000);
            CHECK(LinesOf(removal) == std::vector<std::wstring>{busy});
            CHECK(Exists(otherDir + L"\\Quendal.exe"));
            CHECK(KeyExists(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal-Two"));
            CHECK_FALSE(Exists(L"C:\\Sites\\Quendal-Three"));
            TerminateProcess(first.Process(), 1);
            WaitForSingleObject(first.Process(), 10000);
        }
        KillProcesses(L"QuendalCfgManip.exe");
        // The killed holder's lock goes to the next run, which finishes its work.
        ChildResult again = Install(command);
        CHECK(again.exitCode == 0);
        CHECK(Contains(LinesOf(again), L"An earlier installation of " + site + L" did not finish; undoing what it "
                                                                               L"changed"));
    }
    SUBCASE("a lock name a user made first keeps nobody out, and installers still exclude each other")
    {
        const std::wstring passedOver =
            L"Warning: the lock 'Global\\Korvane-Quendal-Setup' is someone else's; it is passed over";
        // What a standard user may make first in Global\: the name owned by
        // Users and held for good, or with a list that refuses everyone.
        for (const wchar_t* sddl : {L"O:BUD:(A;;GA;;;WD)", L"O:BUD:"}) {
            CAPTURE(Narrow(sddl));
            PSECURITY_DESCRIPTOR sd = nullptr;
            REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
            SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
            HANDLE squat = CreateMutexW(&sa, TRUE, L"Global\\Korvane-Quendal-Setup");
            LocalFree(sd);
            REQUIRE(squat);
            {
                ForcedExit hang(L"QuendalCfgManip.exe:/RegServer=hang");
                CapturedChild first(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command);
                REQUIRE(first.WaitForLine(L"Registering server "));
                ChildResult second = Install(L"-installDir=C:\\Sites\\Quendal-Three -acceptEULA");
                CHECK(second.exitCode == 204);
                CHECK(LinesOf(second) == std::vector<std::wstring>{passedOver, busy});
                TempDir temp;
                REQUIRE(CopyFileW((otherDir + L"\\uninst.exe").c_str(), (temp.Path() + L"\\uninst.exe").c_str(), FALSE));
                ChildResult removal = RunCaptured(L"\"" + temp.Path() + L"\\uninst.exe\" Quendal-Two -unat");
                CHECK(removal.exitCode == 0x100000);
                CHECK(LinesOf(removal) == std::vector<std::wstring>{passedOver, busy});
                TerminateProcess(first.Process(), 1);
                WaitForSingleObject(first.Process(), 10000);
            }
            KillProcesses(L"QuendalCfgManip.exe");
            ChildResult again = Install(command);
            CHECK(again.exitCode == 0);
            CHECK(LinesOf(again).front() == passedOver);
            CHECK_FALSE(Exists(L"C:\\Sites\\Quendal-Three"));
            CloseHandle(squat);
        }
    }
    SUBCASE("two installers started together: one installs, the other says so")
    {
        CapturedChild a(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command);
        CapturedChild b(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command);
        ChildResult ra = a.Wait(120000), rb = b.Wait(120000);
        std::vector<DWORD> codes{ra.exitCode, rb.exitCode};
        std::sort(codes.begin(), codes.end());
        CHECK(codes == std::vector<DWORD>{0, 204});
        const ChildResult& refused = ra.exitCode == 204 ? ra : rb;
        CHECK(LinesOf(refused) == std::vector<std::wstring>{busy});
    }
    CHECK(Exists(dir + L"\\Quendal.exe"));
    CHECK(ServiceState(site.c_str()) != 0);
    UninstallThroughEntry(L"Quendal-Two");
    UninstallThroughEntry(site);
    std::vector<std::wstring> kept = KeptAfterRemoval(dir, site), keptOther = KeptAfterRemoval(otherDir, L"Quendal-Two");
    kept.insert(kept.end(), keptOther.begin(), keptOther.end());
    CHECK(Joined(Snapshot::Take().Differences(before, kept)) == "");
}

TEST_CASE("recovery: Ctrl+C while the previous uninstaller runs stops the run; it asks for no restart")
{
    const std::wstring site = L"Quendal-Stop", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA -interactive";
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    REQUIRE(Install(L"-installDir=\"" + dir + L"\" -acceptEULA").exitCode == 0);
    struct Way {
        const char* name;
        const wchar_t* rule;
        const wchar_t* signalled; // null: the rule ends the uninstaller as Ctrl+C does
    };
    const Way ways[] = {
        {"Ctrl+C on the console, which reaches both", L"uninst.exe:-reinstall=hang",
         L"QuendalInstaller.exe uninst.exe"},
        // The uninstaller's end may be seen before the installer's own handler
        // has run: STATUS_CONTROL_C_EXIT (0xC000013A) has the bit of "restart needed".
        {"the uninstaller ended by Ctrl+C first", L"uninst.exe:-reinstall=3221225786", nullptr},
    };
    for (const Way& way : ways) {
        const std::string name = way.name;
        CAPTURE(name);
        MessageBoxAnswerer restart(L"Windows restart is required", IDNO);
        MessageBoxAnswerer failure(L"Uninstallation failure", IDNO);
        ForcedExit forced(way.rule);
        CapturedChild child(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command);
        REQUIRE(child.WaitForLine(L"Uninstalling the existing " + site + L" 5.18 installation"));
        if (way.signalled) {
            REQUIRE(WaitForProcess(L"uninst.exe"));
            PressCtrlC(way.signalled);
        }
        ChildResult r = child.Wait(120000);
        const std::string output = Narrow(r.text);
        CAPTURE(output);
        CHECK(r.exitCode == 203);
        CHECK(Contains(LinesOf(r), L"Installation interrupted, aborting"));
        CHECK(LinesOf(r).back() == L"The previous installation of " + site + L" was put back");
        CHECK(restart.Texts().empty());
        CHECK(failure.Texts().empty());
        CHECK(RegString(HKEY_CURRENT_USER, runKey, (site + L" Installer").c_str()) == L"(none)");
        KillProcesses(L"uninst.exe");
    }
    // The site stands as the uninstaller left it: the same command finishes.
    ChildResult again = Install(L"-installDir=\"" + dir + L"\" -acceptEULA");
    CHECK(again.exitCode == 0);
    UninstallThroughEntry(site);
    DeleteTree(dir);
}

TEST_CASE("recovery: what a killed run left running is ended, so that the same command finishes")
{
    const std::wstring site = L"Quendal-Held", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Snapshot before = Snapshot::Take();
    // Nobody ends the program the run was waiting for when the run dies: it
    // goes on holding its own file.
    KillInstallerAt(command, L"QuendalCfgManip.exe:/RegServer=hang", L"Registering server ", L"QuendalCfgManip.exe",
                    true);
    REQUIRE(WaitForProcess(L"QuendalCfgManip.exe", 1000));
    for (const wchar_t* options : {L"", L" -force"}) {
        CAPTURE(Narrow(options));
        ChildResult again = Install(command + options);
        const std::string output = Narrow(again.text);
        CAPTURE(output);
        CHECK(again.exitCode == 0);
        if (*options == 0)
            CHECK(Contains(LinesOf(again), L"Ending " + dir + L"\\QuendalCfgManip.exe"));
        CHECK(LinesOf(again).back() == L"Korvane Quendal 5.18 installation completed.");
    }
    CHECK_FALSE(WaitForProcess(L"QuendalCfgManip.exe", 500));
    UninstallThroughEntry(site);
    CHECK(Joined(Snapshot::Take().Differences(before, KeptAfterRemoval(dir, site))) == "");
}

TEST_CASE("recovery: an upgrade that does not complete gives back the installation it replaced, running")
{
    const std::wstring site = L"Quendal-Back", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=" + dir + L" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Snapshot clean = Snapshot::Take();
    REQUIRE(Install(command + L" -startService").exitCode == 0);
    REQUIRE(WaitForServiceState(site.c_str(), SERVICE_RUNNING));
    // An administrator's edit tells the old installation from a fresh copy.
    const std::wstring edited = dir + L"\\ReadMe.txt";
    const std::string text = ReadFileBytes(edited) + "Edited by the administrator.\r\n";
    WriteTextFile(edited, text);
    // What the running server writes to its log grows meanwhile; the
    // completed run's journal goes with the next run.
    const std::wstring journal = JournalOf(site);
    const std::vector<std::wstring> served = {kMakerKeyEntry, L"file:" + dir + L"\\Config\\Quendal.log",
                                              L"file:" + journal, L"file:" + journal.substr(0, journal.rfind(L'\\') + 1)};
    const Snapshot installed = Snapshot::Take();
    struct Fault {
        const char* name;
        const wchar_t* rule;
        const wchar_t* args;
        DWORD code;
        const wchar_t* signalled; // Ctrl+C to these once the rule's program runs
        const wchar_t* last;      // a run that stops before its first step says why last
    };
    const Fault faults[] = {
        // An administrator's typo.
        {"the server's command failing", nullptr, L" -settings=C:\\nope.qst", ERROR_FILE_NOT_FOUND, nullptr, nullptr},
                // Once: the previous installation's own registration must not fail.
        {"the COM server's registration failing", L"QuendalCfgManip.exe:/RegServer=7once", L"", 111, nullptr, nullptr},
        {"the service's registration failing", L"Quendal.exe:-service=5once", L"", 110, nullptr, nullptr},
        {"an interruption after the package", L"Quendal.exe:-service=delay", L"", 203, L"QuendalInstaller.exe", nullptr},
        {"the previous uninstaller failing", L"uninst.exe:-reinstall=131072", L"", 107, nullptr,
         L"Uninstaller failed with error code 0x20000: Exception caught (use /Force flag to override uninstallation "
         L"failure); aborting"},
        // Files the uninstaller met in use: the old installation runs, whole,
        // until the restart.
        {"the previous uninstaller asking for a restart", L"uninst.exe:-reinstall=4", L"", 300, nullptr,
         L"Please re-run Quendal installer after Windows is restarted"},
    };
    for (const Fault& f : faults) {
        const std::string name = f.name;
        CAPTURE(name);
        std::unique_ptr<ForcedExit> forced(f.rule ? new ForcedExit(f.rule) : nullptr);
        CapturedChild child(L"\"" + Env(L"QUENDAL_INSTALLER") + L"\" " + command + f.args);
        if (f.signalled) {
            // The old service runs a program of the same name: the line says
            // when the delayed registration has begun.
            REQUIRE(child.WaitForLine(L"Registering service " + dir + L"\\Quendal.exe"));
            PressCtrlC(f.signalled);
        }
        ChildResult r = child.Wait(120000);
        const std::string output = Narrow(r.text);
        CAPTURE(output);
        CHECK(r.exitCode == f.code);
        const std::vector<std::wstring> lines = LinesOf(r);
        REQUIRE(!lines.empty());
        const std::wstring putBack = L"The previous installation of " + site + L" was put back";
        CHECK(lines.back() == (f.last ? std::wstring(f.last) : putBack));
        CHECK(Contains(lines, putBack));
        CHECK(WaitForServiceState(site.c_str(), SERVICE_RUNNING));
        CHECK(ReadFileBytes(edited) == text);
        CHECK(Joined(Snapshot::Take().Differences(installed, served)) == "");
        CHECK_FALSE(JournalOpen(site));
    }
    // Without the fault the same command upgrades, and the quiet removal
    // leaves the machine as it was.
    REQUIRE(Install(command).exitCode == 0);
    CHECK(WaitForServiceState(site.c_str(), SERVICE_RUNNING));
    UninstallThroughEntry(site);
    CHECK(Joined(Snapshot::Take().Differences(clean, KeptAfterRemoval(dir, site))) == "");
}
