// The installation sequence end to end: the real QuendalInstaller.exe run as
// a child in a prefix of the scenario's own, the machine looked at afterwards.
#include "../support/DialogDriver.h"
#include "../support/Installer.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include "../support/PackageStream.h"
#include "../support/Snapshot.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <aclapi.h>
#include <commctrl.h>
#include <sddl.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using Test::ChildResult;
using Test::Contains;
using Test::Exists;
using Test::ForcedExit;
using Test::Install;
using Test::Joined;
using Test::KillInstallerAt;
using Test::LinesOf;
using Test::PressCtrlC;
using Test::StartService;
using Test::UninstallThroughEntry;
using Test::kUninstall;
using Lines = std::vector<std::wstring>;

namespace {

const wchar_t kCfgClsid[] = L"CLSID\\{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}";

DWORD DwordValue(HKEY root, const std::wstring& key, const wchar_t* name)
{
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size))
        return 0xFFFFFFFF;
    return value;
}

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE);
    return path;
}

bool KeyIn(REGSAM view, HKEY root, const std::wstring& path)
{
    HKEY h;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &h))
        return false;
    RegCloseKey(h);
    return true;
}

// A 32-bit installer on 64-bit Windows writes to the registry's 32-bit view
// only, as a 64-bit one writes to the 64-bit view only: a tool of the other
// width must find the installation where Windows puts it.
void CheckRegistryView(const std::wstring& site)
{
    const bool wow = Test::UnderWow64();
    CAPTURE(wow);
    const REGSAM own = wow ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const REGSAM other = wow ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    for (const std::wstring& key : {kUninstall + site, L"SOFTWARE\\Korvane\\" + site,
                                    L"SOFTWARE\\Classes\\" + std::wstring(kCfgClsid)}) {
        CAPTURE(Test::Narrow(key));
        CHECK(KeyIn(own, HKEY_LOCAL_MACHINE, key));
        CHECK_FALSE(KeyIn(other, HKEY_LOCAL_MACHINE, key));
    }
}

// The Program Files folder of the other width: where nothing may land.
std::wstring OtherProgramFiles()
{
    std::wstring other = Test::Env(Test::UnderWow64() ? L"ProgramW6432" : L"ProgramFiles(x86)");
    REQUIRE(!other.empty());
    return other;
}


bool EndsWith(const std::wstring& s, const std::wstring& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Every program and library installed has the machine type this Windows
// needs: on 64-bit Windows a 32-bit installer writes the 64-bit log tool and
// the 64-bit-only libraries, and this build's width for everything else. Each
// library of this program's width loads and names itself; the log tool loads
// the others of its own width.
void CheckInstalledBinaries(const std::wstring& dir)
{
    const bool wow = Test::UnderWow64();
    int programs = 0, libraries = 0;
    for (const wchar_t* pattern : {L"\\*.exe", L"\\*.dll"}) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + pattern).c_str(), &fd);
        REQUIRE(h != INVALID_HANDLE_VALUE);
        do {
            const std::wstring name = fd.cFileName, path = dir + L"\\" + name;
            CAPTURE(Test::Narrow(name));
            const bool for64 = wow && (name == L"QuendalLog.exe" || EndsWith(name, L"64.dll"));
            const WORD expected = for64 ? IMAGE_FILE_MACHINE_AMD64 : Test::kOwnMachine;
            CHECK(Test::MachineOf(path) == expected);
            // Each says whose it is, which version, and under which name.
            CHECK(Test::VersionValue(path, L"CompanyName") == L"Korvane");
            CHECK(Test::VersionValue(path, L"ProductName") == L"Quendal");
            CHECK(Test::VersionValue(path, L"FileVersion") == L"5.18");
            CHECK(Test::VersionValue(path, L"OriginalFilename") == name);
            CHECK(Test::VersionValue(path, L"FileDescription") != L"(none)");
            // Signed before packing: installed as signed, the signature intact.
            CHECK(Test::SignatureOf(path) == Test::kShippedSignature);
            if (EndsWith(name, L".exe")) {
                ++programs;
                continue;
            }
            ++libraries;
            if (expected != Test::kOwnMachine)
                continue;
            HMODULE lib = LoadLibraryW(path.c_str());
            REQUIRE(lib != nullptr);
            using InfoFn = const wchar_t* (*)();
            auto info = reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(lib, "QuendalModuleInfo")));
            REQUIRE(bool(info));
            CHECK(std::wstring(info()).rfind(name.substr(0, name.size() - 4) + L" 5.18 ", 0) == 0);
            FreeLibrary(lib);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    CHECK(programs == 6);
    CHECK(libraries == (wow ? 10 : 7));

    ChildResult log = Test::RunCaptured(L"\"" + dir + L"\\QuendalLog.exe\" -modules");
    CHECK(log.exitCode == 0);
    if (wow) {
        CHECK(log.text.find(L"QuendalAuth64.dll: QuendalAuth64 5.18 x64\r\n") != std::wstring::npos);
        CHECK(log.text.find(L"QuendalCore.dll: skipped (other width)\r\n") != std::wstring::npos);
    } else {
        CHECK(log.text.find(L"QuendalCore.dll: QuendalCore 5.18 ") != std::wstring::npos);
        CHECK(log.text.find(L"skipped") == std::wstring::npos);
    }
}




} // namespace

TEST_CASE("install: a fresh unattended installation")
{
    const std::wstring dir = L"C:\\Program Files\\Quendal-Fresh";
    ChildResult r = Install(L"-installDir=\"" + dir + L"\" -acceptEULA");
    CHECK(r.exitCode == 0);
    std::vector<std::wstring> lines = LinesOf(r);
    REQUIRE(lines.size() > 10);
    CHECK(lines.front() == L"Creating Korvane registry key");
    CHECK(lines[1] == L"Installing " + dir + L"\\Quendal.exe");
    CHECK(lines.back() == L"Korvane Quendal 5.18 installation completed.");
    CHECK(Contains(lines, L"Registering service " + dir + L"\\Quendal.exe"));
    CHECK(Contains(lines, L"Registering server " + dir + L"\\QuendalCfgManip.exe"));
    CHECK(Contains(lines, L"Registering uninstaller"));

    // The files for this platform, the terminal descriptions, the shortcuts.
    for (const wchar_t* f : {L"Quendal.exe", L"QuendalCfgManip.exe", L"srvctrl.exe", L"srvcfg.exe", L"uninst.exe",
                             L"QuendalLog.exe", L"TermInfo\\xterm", L"TermInfo\\vt100"})
        CHECK(Exists(dir + L"\\" + f));
    CHECK(Exists(dir + L"\\QuendalAuth64.dll") == Test::UnderWow64());
    std::wstring menu = ShellFolder(CSIDL_PROGRAMS) + L"\\Korvane Quendal-Fresh";
    CHECK(Exists(menu + L"\\Quendal-Fresh Control Panel.lnk"));
    CHECK(Exists(menu + L"\\Uninstall Quendal-Fresh.lnk"));
    CHECK(Exists(ShellFolder(CSIDL_COMMON_ADMINTOOLS) + L"\\Quendal-Fresh Control Panel.lnk"));
    // The service and the COM server, registered by the package's programs.
    CHECK(Test::ServiceState(L"Quendal-Fresh") == SERVICE_STOPPED);
    CHECK(Test::KeyExists(HKEY_CLASSES_ROOT, std::wstring(kCfgClsid) + L"\\LocalServer32"));
    // The uninstall entry and the first-run flag.
    const std::wstring entry = kUninstall + L"Quendal-Fresh";
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"DisplayName") == L"Korvane Quendal-Fresh 5.18 (remove only)");
    // The size of the files actually written, in KB, rounded up.
    std::uint64_t bytes = 0;
    for (const auto& e : Test::Snapshot::Take().entries)
        if (e.first.rfind(L"file:" + dir + L"\\", 0) == 0 && e.second != L"dir")
            bytes += std::stoull(e.second);
    CHECK(DwordValue(HKEY_LOCAL_MACHINE, entry, L"EstimatedSize") == (bytes + 1023) / 1024);
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"QuietUninstallString") == L"\"" + dir + L"\\uninst.exe\" Quendal-Fresh -unat");
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"DisplayIcon") == dir + L"\\uninst.exe");
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"UninstallString") == L"\"" + dir + L"\\uninst.exe\" Quendal-Fresh ");
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"InstallDir") == dir);
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"ProductName") == L"Quendal");
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"Version") == L"5.18");
    std::wstring params = Test::RegString(HKEY_LOCAL_MACHINE, entry, L"UninstallParam");
    std::wstring head = L" -feedback=yes \"-workDir=" + dir + L"\" \"-stopSvc=Quendal-Fresh\" \"-killProc=" + dir +
                        L"\\srvctrl.exe\" \"-killProc=" + dir + L"\\srvcfg.exe\" \"-killProc=" + dir +
                        L"\\QuendalCfgManip.exe\" \"-execUninst=" + dir + L"\\srvctrl.exe\" \"-delDir=" + dir +
                        L"\" \"-delDir=" + dir + L"\\TermInfo\" \"-delFile=" + dir + L"\\Quendal.exe\"";
    CHECK(params.rfind(head, 0) == 0);
    std::wstring tail = L"\"-delFile=" + ShellFolder(CSIDL_COMMON_ADMINTOOLS) + L"\\Quendal-Fresh Control Panel.lnk\" \"-unregSvc=" +
                        dir + L"\\Quendal.exe\" \"-unregSvr=" + dir + L"\\QuendalCfgManip.exe\" \"-delRegKey=HKEY_LOCAL_MACHINE\\" +
                        entry + L"\"";
    CHECK(params.substr(params.size() - tail.size()) == tail);
    CHECK(params.find(L"\"-delDir=" + menu + L"\" \"-delFile=" + menu) != std::wstring::npos);
    CHECK(DwordValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Fresh", L"FirstRunFlag") == 1);
    CHECK(Exists(dir + L"\\Config")); // made by the server's installation command
    CheckRegistryView(L"Quendal-Fresh");
    CheckInstalledBinaries(dir);

    // The documents, and default settings that the server itself accepts.
    CHECK(Test::ReadFileBytes(dir + L"\\License.rtf").rfind("{\\rtf1", 0) == 0);
    CHECK(Test::ReadFileBytes(dir + L"\\ReadMe.txt").find("Korvane Quendal 5.18\r\n") == 0);
    ChildResult check = Test::RunCaptured(L"\"" + dir + L"\\Quendal.exe\" -checkSettings=\"" + dir +
                                          L"\\Quendal-Settings-Default.qst\"");
    CHECK(check.exitCode == 0);
    CHECK(check.text.find(L": valid; listening on 0.0.0.0:22, at most 100 connections, log level info\r\n") !=
          std::wstring::npos);
    Test::TempDir bad;
    Test::WriteTextFile(bad.Path() + L"\\bad.qst", "[Server]\r\nPort = 70000\r\n");
    ChildResult refused = Test::RunCaptured(L"\"" + dir + L"\\Quendal.exe\" -checkSettings=" + bad.Path() + L"\\bad.qst");
    CHECK(refused.exitCode == ERROR_INVALID_DATA);
    CHECK(refused.text == bad.Path() + L"\\bad.qst: line 2: Port must be a number from 1 to 65535\r\n");
}

TEST_CASE("install: -startService, and a service that ran before runs again after an upgrade")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Svc";
    ChildResult first = Install(L"-installDir=" + dir + L" -acceptEULA -startService");
    CHECK(first.exitCode == 0);
    std::vector<std::wstring> lines = LinesOf(first);
    CHECK(lines[lines.size() - 3] == L"Starting Quendal-Svc service...");
    CHECK(lines[lines.size() - 2] == L"Quendal-Svc service started successfully.");
    CHECK(Test::WaitForServiceState(L"Quendal-Svc", SERVICE_RUNNING));
    // The service read the package's default settings; the log tool shows it.
    ChildResult log = Test::RunCaptured(L"\"" + dir + L"\\QuendalLog.exe\"");
    CHECK(log.exitCode == 0);
    CHECK(log.text.find(L"Quendal-Svc service started, listening on 0.0.0.0:22\r\n") != std::wstring::npos);
    ChildResult again = Install(L"-installDir=" + dir + L" -acceptEULA");
    CHECK(again.exitCode == 0);
    CHECK(Contains(LinesOf(again), L"Quendal-Svc service started successfully."));
    CHECK(Test::WaitForServiceState(L"Quendal-Svc", SERVICE_RUNNING));

    // An upgrade that needs a restart gives the old installation back,
    // running, until the restart; the same command, repeated unattended as
    // the 300 tells, upgrades and starts it.
    HANDLE lock = CreateFileW((dir + L"\\ReadMe.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    ChildResult blocked = Install(L"-installDir=" + dir + L" -acceptEULA");
    CloseHandle(lock);
    CHECK(blocked.exitCode == 300);
    CHECK(Test::WaitForServiceState(L"Quendal-Svc", SERVICE_RUNNING));
    Test::RestartWine();
    ChildResult resumed = Install(L"-installDir=" + dir + L" -acceptEULA");
    CHECK(resumed.exitCode == 0);
    CHECK(Contains(LinesOf(resumed), L"Quendal-Svc service started successfully."));
    CHECK(Test::WaitForServiceState(L"Quendal-Svc", SERVICE_RUNNING));
    // Remembered only until the installation completed.
    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Svc", 0, KEY_QUERY_VALUE, &key) == 0);
    CHECK(RegQueryValueExW(key, L"RestartServiceAfterInstall", nullptr, nullptr, nullptr, nullptr) ==
          ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_CASE("install: reinstall through the stored uninstaller keeps the settings; upgrade through a temporary copy")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Up";
    const std::wstring entry = kUninstall + L"Quendal-Up";
    Test::TempDir settingsDir;
    std::wstring settings = settingsDir.Path() + L"\\my settings.qst";
    Test::WriteTextFile(settings, "port=22");
    ChildResult first = Install(L"-installDir=" + dir + L" -acceptEULA -settings=\"" + settings + L"\"");
    CHECK(first.exitCode == 0);
    CHECK(Exists(dir + L"\\Config\\Quendal-Settings.qst"));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Up", L"FirstRunFlag");

    // The same version: the stored uninstaller removes the old files first.
    ChildResult same = Install(L"-installDir=" + dir + L" -acceptEULA");
    CHECK(same.exitCode == 0);
    std::vector<std::wstring> lines = LinesOf(same);
    CHECK(lines[1] == L"Uninstalling the existing Quendal-Up 5.18 installation");
    CHECK(Contains(lines, L"Deleting " + dir + L"\\Quendal.exe")); // the uninstaller's own feedback
    // The list the installer wrote lies wholly inside the site.
    for (const std::wstring& line : lines)
        CHECK_MESSAGE(line.rfind(L"Skipped", 0) != 0, Test::Narrow(line));
    CHECK(Exists(dir + L"\\Config\\Quendal-Settings.qst"));
    // An existing settings file means this is not the server's first run.
    CHECK(DwordValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Up", L"FirstRunFlag") == 0xFFFFFFFF);

    // An older version: the package's own uninstaller, from a temporary copy.
    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_SET_VALUE, &key) == 0);
    const wchar_t old[] = L"5.10";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof(old));
    RegCloseKey(key);
    // Where a user may put a program of the name the copy has: never run,
    // never overwritten.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring planted = std::wstring(temp) + L"uninst.exe";
    Test::WriteTextFile(planted, "planted");
    ChildResult upgrade = Install(L"-installDir=" + dir + L" -acceptEULA");
    CHECK(upgrade.exitCode == 0);
    CHECK(LinesOf(upgrade)[1] == L"Uninstalling the existing Quendal-Up 5.10 installation");
    for (const std::wstring& line : LinesOf(upgrade))
        CHECK_MESSAGE(line.rfind(L"Skipped", 0) != 0, Test::Narrow(line));
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"Version") == L"5.18");
    CHECK(Test::ReadFileBytes(planted) == "planted");
    // The copy ran from a folder of the run's own, which goes at the restart.
    WIN32_FIND_DATAW fd;
    HANDLE found = FindFirstFileW((std::wstring(temp) + L"Quendal Setup-*").c_str(), &fd);
    REQUIRE(found != INVALID_HANDLE_VALUE);
    FindClose(found);
    CHECK(Exists(std::wstring(temp) + fd.cFileName + L"\\uninst.exe"));
    DeleteFileW(planted.c_str());
}

TEST_CASE("install: named sites side by side")
{
    // A 32-bit program's Program Files on 64-bit Windows is Program Files (x86).
    const std::wstring pf = ShellFolder(CSIDL_PROGRAM_FILES);
    CHECK((pf.size() > 6 && pf.substr(pf.size() - 6) == L" (x86)") == Test::UnderWow64());
    for (const wchar_t* command :
         {L"-site=Quendal-A -acceptEULA", L"-site=Quendal-B -acceptEULA", L"-installDir=C:\\Sites\\Default -acceptEULA"}) {
        ChildResult r = Install(command);
        CAPTURE(Test::Narrow(r.text));
        CHECK(r.exitCode == 0);
    }
    CHECK(Exists(pf + L"\\Quendal-A\\Quendal.exe"));
    CHECK(Exists(pf + L"\\Quendal-B\\Quendal.exe"));
    CHECK(Exists(L"C:\\Sites\\Default\\Quendal.exe"));
    CHECK_FALSE(Exists(OtherProgramFiles() + L"\\Quendal-A"));
    for (const wchar_t* site : {L"Quendal-A", L"Quendal-B", L"Quendal"}) {
        CAPTURE(Test::Narrow(site));
        CheckRegistryView(site);
        CHECK(Test::ServiceState(site) == SERVICE_STOPPED);
        CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + site));
        CHECK(Exists(ShellFolder(CSIDL_PROGRAMS) + L"\\Korvane " + site));
    }
    // One class for the machine: the first site's tool keeps it while it is
    // installed; a failed installation of another site leaves it so.
    const std::wstring classKey = std::wstring(kCfgClsid) + L"\\LocalServer32";
    auto classProgram = [&] { return Test::RegString(HKEY_CLASSES_ROOT, classKey, nullptr); };
    const std::wstring toolA = L"\"" + pf + L"\\Quendal-A\\QuendalCfgManip.exe\"";
    CHECK(classProgram() == toolA);
    {
        ForcedExit forced(L"Quendal.exe:-install=5");
        CHECK(Install(L"-installDir=C:\\Sites\\Quendal-C -acceptEULA").exitCode == 5);
    }
    CHECK(classProgram() == toolA);
    // Removing one leaves the others whole.
    UninstallThroughEntry(L"Quendal-A");
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal-A"));
    CHECK(Test::ServiceState(L"Quendal-A") == 0);
    CHECK_FALSE(Exists(pf + L"\\Quendal-A\\Quendal.exe"));
    CHECK(Exists(pf + L"\\Quendal-B\\Quendal.exe"));
    CHECK(Exists(L"C:\\Sites\\Default\\Quendal.exe"));
    CHECK(Test::ServiceState(L"Quendal-B") == SERVICE_STOPPED);
    CHECK(Test::ServiceState(L"Quendal") == SERVICE_STOPPED);
    // The class went to a site that stays, and goes with the last one.
    const std::wstring toolB = L"\"" + pf + L"\\Quendal-B\\QuendalCfgManip.exe\"",
                       toolDefault = L"\"C:\\Sites\\Default\\QuendalCfgManip.exe\"";
    CHECK((classProgram() == toolB || classProgram() == toolDefault));
    const std::wstring holder = classProgram() == toolB ? L"Quendal-B" : L"Quendal";
    UninstallThroughEntry(holder == L"Quendal" ? L"Quendal-B" : L"Quendal");
    CHECK(classProgram() == (holder == L"Quendal" ? toolDefault : toolB));
    UninstallThroughEntry(holder);
    CHECK(classProgram() == L"(none)");
    CHECK_FALSE(Test::KeyExists(HKEY_CLASSES_ROOT, L"Quendal.CfgManip"));
}

TEST_CASE("install: a failing step leaves the machine as it was")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Fail";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Test::Snapshot before = Test::Snapshot::Take();
    struct Case {
        const wchar_t* rule;
        DWORD code;
        const wchar_t* line;
    };
    const Case cases[] = {
        {L"Quendal.exe:-service=5", 110,
         L"Service 'C:\\Sites\\Quendal-Fail\\Quendal.exe' registration failed: Error code 0x00000005 received, aborting"},
        {L"QuendalCfgManip.exe:/RegServer=7", 111,
         L"Server C:\\Sites\\Quendal-Fail\\QuendalCfgManip.exe registration failed: Error code 0x00000007 received, "
         L"aborting"},
        {L"Quendal.exe:-install=5", 5,
         L"The server's installation command failed with exit code 5: \"C:\\Sites\\Quendal-Fail\\Quendal.exe\" -install"},
        // The installer's own codes for its command line, passed on from the
        // server: passed on alone, without the installer's usage text.
        {L"Quendal.exe:-install=201", 201,
         L"The server's installation command failed with exit code 201: \"C:\\Sites\\Quendal-Fail\\Quendal.exe\" "
         L"-install"},
        {L"Quendal.exe:-install=200", 200,
         L"The server's installation command failed with exit code 200: \"C:\\Sites\\Quendal-Fail\\Quendal.exe\" "
         L"-install"},
    };
    SUBCASE("each step's failure, rolled back")
    for (const Case& c : cases) {
        CAPTURE(Test::Narrow(c.rule));
        ForcedExit forced(c.rule);
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(r.exitCode == c.code);
        CHECK(r.text.find(L"QuendalInstaller -installDir=directory") == std::wstring::npos);
        std::vector<std::wstring> lines = LinesOf(r);
        if (c.line) {
            // The cause is said before the rollback's lines.
            auto cause = std::find(lines.begin(), lines.end(), c.line);
            auto firstRollback = std::find_if(lines.begin(), lines.end(), [](const std::wstring& l) {
                return l.rfind(L"Rollback: ", 0) == 0;
            });
            CHECK(cause != lines.end());
            CHECK(cause < firstRollback);
        }
        CHECK(Contains(lines, L"Rollback: removing previously created " + dir));
        auto diff = Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry});
        CHECK(Joined(diff) == "");
        // The maker's key stays (it is made before any step); the site's part of it does not.
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Fail"));
    }
    SUBCASE("settings the server refuses: its exit code passed through, and everything rolled back")
    {
        Test::TempDir settingsDir;
        const std::wstring settings = settingsDir.Path() + L"\\bad.qst";
        Test::WriteTextFile(settings, "Port = 0\r\n");
        Test::Snapshot withSettings = Test::Snapshot::Take();
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA -settings=\"" + settings + L"\"");
        CHECK(r.exitCode == ERROR_INVALID_DATA);
        CHECK(r.text.find(L"not imported: line 1: Port must be a number from 1 to 65535") != std::wstring::npos);
        CHECK(Contains(LinesOf(r), L"Rollback: removing previously created " + dir));
        CHECK(Joined(Test::Snapshot::Take().Differences(withSettings, {Test::kMakerKeyEntry})) == "");
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvane\\Quendal-Fail"));

        // A settings file that is not there: the same.
        ChildResult missing = Install(L"-installDir=" + dir + L" -acceptEULA -settings=\"" + settingsDir.Path() +
                                      L"\\none.qst\"");
        CHECK(missing.exitCode == ERROR_FILE_NOT_FOUND);
        CHECK(Joined(Test::Snapshot::Take().Differences(withSettings, {Test::kMakerKeyEntry})) == "");
    }
    SUBCASE("an existing file in the target directory: 104, and the file stays")
    {
        CreateDirectoryW(dir.c_str(), nullptr);
        Test::WriteTextFile(dir + L"\\srvcfg.exe", "someone else's");
        Test::Snapshot withFile = Test::Snapshot::Take();
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(r.exitCode == 104);
        CHECK(Contains(LinesOf(r), L"Target file '" + dir + L"\\srvcfg.exe' already exists, aborting"));
        CHECK(Joined(Test::Snapshot::Take().Differences(withFile, {Test::kMakerKeyEntry})) == "");
        Test::DeleteTree(dir);
    }
    SUBCASE("a path that is a file")
    {
        Test::WriteTextFile(L"C:\\Sites\\Quendal-File", "in the way");
        ChildResult r = Install(L"-installDir=C:\\Sites\\Quendal-File -acceptEULA");
        CHECK(r.exitCode == 101);
        CHECK(LinesOf(r).back() == L"Unable to create target directory 'C:\\Sites\\Quendal-File': The specified target "
                                   L"path already exists and is not a directory, aborting");
        DeleteFileW(L"C:\\Sites\\Quendal-File");
    }
    SUBCASE("with -force: the warning, and the installation completes")
    {
        ForcedExit forced(L"QuendalCfgManip.exe:/RegServer=7");
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA -force");
        CHECK(r.exitCode == 0);
        CHECK(Contains(LinesOf(r), L"Warning: server " + dir +
                                       L"\\QuendalCfgManip.exe registration failed: Error code 0x00000007 received"));
        CHECK(Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal-Fail", L"UninstallParam").find(L"-unregSvr=") ==
              std::wstring::npos);
    }
    SUBCASE("with -noRollback: the code, and everything left in place")
    {
        {
            ForcedExit forced(L"QuendalCfgManip.exe:/RegServer=7");
            ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA -noRollback");
            CHECK(r.exitCode == 111);
        }
        CHECK(Exists(dir + L"\\Quendal.exe"));
        CHECK(Test::ServiceState(L"Quendal-Fail") == SERVICE_STOPPED);
        // What was left in place is the next run's to undo: the same
        // command then completes.
        ChildResult again = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(again.exitCode == 0);
        CHECK(LinesOf(again)[1] == L"An earlier installation of Quendal-Fail did not finish; undoing what it changed");
    }
}

// Drive E: of this scenario's prefix is a file system of 2 MiB
// (QUENDAL_SMALL_DRIVE): the package does not fit.
TEST_CASE("install: a drive that fills up is left as it was found")
{
    ULARGE_INTEGER freeBytes = {}, total = {};
    REQUIRE(GetDiskFreeSpaceExW(L"E:\\", &freeBytes, &total, nullptr));
    REQUIRE(total.QuadPart <= 4u * 1024 * 1024);
    REQUIRE(Joined(Test::Snapshot::Folder(L"E:").Differences(Test::Snapshot(), {})) == "");
    Test::Snapshot before = Test::Snapshot::Take();
    for (const wchar_t* dir : {L"E:\\Q", L"E:\\Sites\\Quendal-Full"}) {
        CAPTURE(Test::Narrow(dir));
        ChildResult r = Install(std::wstring(L"-installDir=") + dir + L" -acceptEULA");
        CHECK(r.exitCode == 150);
        const std::vector<std::wstring> lines = LinesOf(r);
        REQUIRE(!lines.empty());
        CHECK(lines.back().rfind(L"Exception caught: Error writing to target installation file '" + std::wstring(dir) +
                                     L"\\",
                                 0) == 0);
        CHECK(Contains(lines, L"Rollback: removing previously created " + std::wstring(dir)));
        for (const std::wstring& line : lines)
            CHECK(line.find(L"reached through a link") == std::wstring::npos);
        // Nothing of the run on the drive, the folders it made included, and
        // nothing elsewhere.
        CHECK(Joined(Test::Snapshot::Folder(L"E:").Differences(Test::Snapshot(), {})) == "");
        CHECK(Joined(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry})) == "");
        ULARGE_INTEGER after = {};
        REQUIRE(GetDiskFreeSpaceExW(L"E:\\", &after, nullptr, nullptr));
        CHECK(after.QuadPart == freeBytes.QuadPart);
    }
}

TEST_CASE("install: an upgrade on a drive without room for a second installation keeps the first")
{
    const std::wstring site = L"Quendal-Tight", dir = L"E:\\Sites\\" + site;
    CreateDirectoryW(L"E:\\Sites", nullptr);
    REQUIRE(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
    ULARGE_INTEGER freeBytes = {};
    REQUIRE(GetDiskFreeSpaceExW(L"E:\\", &freeBytes, nullptr, nullptr));
    CAPTURE(freeBytes.QuadPart);
    wchar_t data[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE);
    const std::vector<std::wstring> journals = {Test::kMakerKeyEntry,
                                                L"file:" + std::wstring(data) + L"\\Korvane Quendal Setup\\*"};
    Test::Snapshot installed = Test::Snapshot::Take();
    // Found before anything is removed: nothing changed.
    ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
    CHECK(r.exitCode == 107);
    const std::wstring said = L"The " + site + L" installation cannot be kept for its return if the upgrade fails: "
                              L"the drive has ";
    const std::vector<std::wstring> lines = LinesOf(r);
    REQUIRE(!lines.empty());
    CHECK(lines.back().rfind(said, 0) == 0);
    CHECK(EndsWith(lines.back(), L" beside it (use /Force flag to override uninstallation failure); aborting"));
    CHECK(Joined(Test::Snapshot::Take().Differences(installed, journals)) == "");
    // The administrator's call: the old installation given up first, as the
    // drive allows.
    ChildResult forced = Install(L"-installDir=" + dir + L" -acceptEULA -force");
    CHECK(forced.exitCode == 0);
    bool warned = false;
    for (const std::wstring& line : LinesOf(forced))
        warned = warned || line.rfind(L"Warning: " + said, 0) == 0;
    CHECK(warned);
    // The same installation again (its list lacks the folder, which was there).
    std::vector<std::wstring> upgraded = journals;
    upgraded.push_back(L"reg:HKLM\\" + kUninstall + site + L"\\@UninstallParam");
    CHECK(Joined(Test::Snapshot::Take().Differences(installed, upgraded)) == "");
}

TEST_CASE("install: a file of the old installation held open asks for a restart")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Lock";
    CHECK(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
    HANDLE lock = CreateFileW((dir + L"\\ReadMe.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
    CloseHandle(lock);
    CHECK(r.exitCode == 300);
    std::vector<std::wstring> lines = LinesOf(r);
    CHECK(Lines(lines.end() - 2, lines.end()) ==
          Lines{L"Windows restart is required before Quendal-Lock reinstallation can be completed",
                L"Please re-run Quendal installer after Windows is restarted"});
    // Found before anything was removed: the file, the program that holds
    // it, and the old installation as it was.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CHECK(Contains(lines, L"'" + dir + L"\\ReadMe.txt' is held open by " + self + L" (process " +
                              std::to_wstring(GetCurrentProcessId()) + L")"));
    CHECK(Contains(lines, L"Nothing of Quendal-Lock was removed: the files above are in use by other programs"));
    for (const std::wstring& line : lines)
        CHECK(line.rfind(L"Deleting ", 0) == std::wstring::npos);
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal-Lock"));
    CHECK(Exists(dir + L"\\Quendal.exe"));
    CHECK(Test::RegString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quendal-Lock Installer") ==
          L"(none)");
    // After Wine's restart the same command completes.
    Test::ChildResult restart = Test::RunCaptured(L"C:\\windows\\system32\\wineboot.exe --restart", 120000);
    CHECK(restart.exitCode == 0);
    CHECK(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);

    // Interactively: the resume entry, Wine's restart, and the resume command.
    lock = CreateFileW((dir + L"\\ReadMe.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    {
        Test::MessageBoxAnswerer no(L"Windows restart is required", IDNO);
        Test::MessageBoxAnswerer done(L"Installation Completed", IDOK);
        ChildResult i = Install(L"-interactive -acceptEULA -installDir=" + dir);
        CHECK(i.exitCode == 300);
        CHECK(no.Texts().size() == 1);
        CHECK(done.Texts().empty());
    }
    CloseHandle(lock);
    std::wstring resume =
        Test::RegString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quendal-Lock Installer");
    REQUIRE(resume != L"(none)");
    CHECK(resume.find(L"\" -interactive -acceptEULA -installDir=\"" + dir + L"\"") != std::wstring::npos);
    restart = Test::RunCaptured(L"C:\\windows\\system32\\wineboot.exe --restart", 120000);
    CHECK(restart.exitCode == 0);
    {
        Test::MessageBoxAnswerer done(L"Installation Completed", IDOK);
        ChildResult resumed = Test::RunCaptured(resume, 120000);
        CHECK(resumed.exitCode == 0);
        CHECK(done.Texts().size() == 1);
    }
    CHECK(Test::RegString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Quendal-Lock Installer") ==
          L"(none)");
    CHECK(Exists(dir + L"\\ReadMe.txt"));
}

TEST_CASE("install: after a blocked upgrade the same command takes over what the old installation left")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Held";
    const std::wstring log = dir + L"\\QuendalLog.exe";
    const std::wstring entry = kUninstall + L"Quendal-Held";
    // Another program's pending operations are never touched.
    Test::ClearPendingRestartOperations();
    CreateDirectoryW(L"C:\\Other", nullptr);
    Test::WriteTextFile(L"C:\\Other\\stale.tmp", "theirs");
    REQUIRE(MoveFileExW(L"C:\\Other\\stale.tmp", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    const std::vector<std::wstring> theirs = Test::PendingRestartOperations();
    auto othersKept = [&] {
        std::vector<std::wstring> now = Test::PendingRestartOperations();
        return now.size() >= 2 && now[0] == theirs[0] && now[1] == L"";
    };
    // The site removed by its own uninstaller while a file of it is held
    // open: that file is left to the restart, and the entry is gone.
    auto blockedRemoval = [&] {
        HANDLE lock = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(lock != INVALID_HANDLE_VALUE);
        ChildResult r = Test::RunCaptured(Test::RegString(HKEY_LOCAL_MACHINE, entry, L"UninstallString") + L"-unat");
        CloseHandle(lock);
        CHECK(r.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED);
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
        CHECK(Exists(log));
    };
    REQUIRE(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);

    SUBCASE("an upgrade blocked by it gives the old installation back whole; the restart keeps it")
    {
        HANDLE lock = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(lock != INVALID_HANDLE_VALUE);
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CloseHandle(lock);
        CHECK(r.exitCode == 300);
        CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
        // Nothing the uninstaller left for the restart is the site's any more
        // (its temporary copies go then).
        for (const std::wstring& pending : Test::PendingRestartOperations()) {
            CAPTURE(Test::Narrow(pending));
            CHECK(pending.find(dir) == std::wstring::npos);
        }
        CHECK(othersKept());
        Test::RestartWine();
        for (const wchar_t* name : {L"\\QuendalLog.exe", L"\\Quendal.exe", L"\\uninst.exe", L"\\ReadMe.txt"})
            CHECK(Exists(dir + name));
        CHECK(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
    }
    SUBCASE("the locking program closed, no restart: the same command completes, and the restart keeps the files")
    {
        blockedRemoval();
        ChildResult again = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(again.exitCode == 0);
        CHECK_FALSE(Contains(LinesOf(again), L"Target file '" + log + L"' already exists, aborting"));
        CHECK(othersKept());
        Test::RestartWine();
        CHECK(Exists(log));
        CHECK(Exists(dir + L"\\Quendal.exe"));
        CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
        CHECK_FALSE(Exists(L"C:\\Other\\stale.tmp"));
    }
    SUBCASE("the held file removed by hand: the new file survives the restart")
    {
        blockedRemoval();
        REQUIRE(DeleteFileW(log.c_str()));
        CHECK(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
        CHECK(othersKept());
        Test::RestartWine();
        CHECK(Exists(log));
        CHECK(Test::RunCaptured(L"\"" + log + L"\" -modules").exitCode == 0);
    }
    SUBCASE("a failing run after the take-over leaves nothing of it")
    {
        blockedRemoval();
        ForcedExit forced(L"QuendalCfgManip.exe:/RegServer=7");
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(r.exitCode == 111);
        CHECK(Contains(LinesOf(r), L"Rollback: removing taken-over " + log));
        CHECK_FALSE(Exists(log));
        CHECK(othersKept());
    }
}

TEST_CASE("install: a killed run is finished by the same command and removed by the uninstaller")
{
    const std::wstring site = L"Quendal-Kill", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=" + dir + L" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Test::Snapshot before = Test::Snapshot::Take();
    struct Point {
        const char* name;
        const wchar_t* rule;    // a program of the package that hangs there
        std::wstring line;      // the line after which the run is killed
        const wchar_t* program; // once this program runs
        bool upgrade;
    };
    const Point points[] = {
        {"writing the package", L"", L"Installing " + dir + L"\\QuendalCore.dll", nullptr, false},
        {"at the shortcuts", L"", L"Creating shortcut ", nullptr, false},
        {"at the service", L"Quendal.exe:-service=hang", L"Registering service ", L"Quendal.exe", false},
        {"at the COM server", L"QuendalCfgManip.exe:/RegServer=hang", L"Registering server ", L"QuendalCfgManip.exe",
         false},
        {"at the server's installation command", L"Quendal.exe:-install=hang", L"Registering uninstaller",
         L"Quendal.exe", false},
        {"an upgrade, at the COM server", L"QuendalCfgManip.exe:/RegServer=hang", L"Registering server ",
         L"QuendalCfgManip.exe", true},
    };
    for (const Point& p : points) {
        const std::string name = p.name;
        CAPTURE(name);
        if (p.upgrade)
            REQUIRE(Install(command + L" -startService").exitCode == 0);
        KillInstallerAt(command, p.rule, p.line, p.program);
        // The next session starts what the killed run registered; its
        // service then holds the server's program open.
        if (Test::ServiceState(site.c_str()) == SERVICE_STOPPED) {
            StartService(site.c_str());
            CHECK(Test::WaitForServiceState(site.c_str(), SERVICE_RUNNING));
        }

        ChildResult again = Install(command);
        const std::string output = Test::Narrow(again.text);
        CAPTURE(output);
        CHECK(again.exitCode == 0);
        std::vector<std::wstring> lines = LinesOf(again);
        CHECK(Contains(lines, L"An earlier installation of Quendal-Kill did not finish; undoing what it changed"));
        CHECK_FALSE(Contains(lines, L"Target file '" + dir + L"\\Quendal.exe' already exists, aborting"));
        CHECK(lines.back() == L"Korvane Quendal 5.18 installation completed.");
        // The upgrade's service ran before: it runs again.
        if (p.upgrade)
            CHECK(Test::WaitForServiceState(site.c_str(), SERVICE_RUNNING));
        CheckInstalledBinaries(dir);

        UninstallThroughEntry(site);
        CHECK(Joined(Test::Snapshot::Take().Differences(before, Test::KeptAfterRemoval(dir, site))) == "");
        Test::DeleteTree(dir);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Korvane\\" + site).c_str());
    }
}

TEST_CASE("install: Ctrl+C stops the run at its next safe point and rolls it back")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Break";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Test::Snapshot before = Test::Snapshot::Take();
    struct Point {
        const char* name;
        const wchar_t* rule;
        const wchar_t* program;  // waited for; then Ctrl+C
        const wchar_t* signalled;
        const wchar_t* rollback; // a line of the rollback
    };
    const Point points[] = {
        // The service's program takes its time and succeeds; the run stops
        // at the next safe point, after the step, and undoes it.
        {"between two steps", L"Quendal.exe:-service=delay", L"Quendal.exe", L"QuendalInstaller.exe",
         L"Rollback: unregistering previously registered service "},
        // The console's Ctrl+C reaches the package's program as well.
        {"while a program of the package runs", L"QuendalCfgManip.exe:/RegServer=hang", L"QuendalCfgManip.exe",
         L"QuendalInstaller.exe QuendalCfgManip.exe", L"Rollback: unregistering previously registered service "},
    };
    for (const Point& p : points) {
        const std::string name = p.name;
        CAPTURE(name);
        ForcedExit forced(p.rule);
        Test::CapturedChild child(L"\"" + Test::Env(L"QUENDAL_INSTALLER") + L"\" -installDir=" + dir + L" -acceptEULA");
        REQUIRE(Test::WaitForProcess(p.program));
        PressCtrlC(p.signalled);
        ChildResult r = child.Wait(120000);
        const std::string output = Test::Narrow(r.text);
        CAPTURE(output);
        CHECK(r.exitCode == 203);
        std::vector<std::wstring> lines = LinesOf(r);
        CHECK(Contains(lines, L"Installation interrupted, aborting"));
        CHECK(Contains(lines, p.rollback + dir + L"\\Quendal.exe"));
        CHECK(Contains(lines, L"Rollback: removing previously created " + dir));
        CHECK(Joined(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry})) == "");
    }
}

// A directory's access control list with its protection, as text.
std::wstring DaclText(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    REQUIRE(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                  nullptr, &sd) == ERROR_SUCCESS);
    wchar_t* text = nullptr;
    REQUIRE(ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &text, nullptr));
    std::wstring result = text;
    LocalFree(text);
    LocalFree(sd);
    return result;
}

// Wine does not keep a directory's access control (docs/wine-differences.md):
// there the list read back is the same before and after, and what this
// checks is that each rollback, the steps' own and the next run's, gives the
// folder back what it had. On Windows the comparison is the whole proof.
TEST_CASE("install: a folder that existed gets its own access control back")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Acl";
    const std::wstring command = L"-installDir=" + dir + L" -acceptEULA";
    const std::wstring restoring = L"Rollback: restoring the previous access control of " + dir;
    CreateDirectoryW(L"C:\\Sites", nullptr);
    REQUIRE(CreateDirectoryW(dir.c_str(), nullptr));
    const std::wstring original = DaclText(dir);
    CAPTURE(Test::Narrow(original));

    // A failing run, rolled back by its own steps.
    {
        ForcedExit forced(L"QuendalCfgManip.exe:/RegServer=7");
        ChildResult r = Install(command);
        CHECK(r.exitCode == 111);
        CHECK(Contains(LinesOf(r), restoring));
    }
    CHECK(DaclText(dir) == original);

    // A killed run: the next run gives the folder its list back before it
    // secures the folder again, and its own failure gives it back once more.
    KillInstallerAt(command, L"QuendalCfgManip.exe:/RegServer=hang", L"Registering server ", L"QuendalCfgManip.exe");
    {
        ForcedExit forced(L"Quendal.exe:-service=5");
        ChildResult r = Install(command);
        CHECK(r.exitCode == 110);
        std::vector<std::wstring> lines = LinesOf(r);
        CHECK(std::count(lines.begin(), lines.end(), restoring) == 2);
    }
    CHECK(DaclText(dir) == original);

    // A completed run has nothing to give back.
    ChildResult done = Install(command);
    CHECK(done.exitCode == 0);
    CHECK_FALSE(Contains(LinesOf(done), restoring));
}

TEST_CASE("install: a site whose name holds spaces is reinstalled and removed through its entry")
{
    const std::wstring site = L"Quendal-My Site", dir = L"C:\\Sites\\" + site;
    const std::wstring command = L"-installDir=\"" + dir + L"\" -acceptEULA";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Test::Snapshot before = Test::Snapshot::Take();
    REQUIRE(Install(command).exitCode == 0);
    // The stored command keeps its format: the name unquoted.
    CHECK(Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + site, L"UninstallString") ==
          L"\"" + dir + L"\\uninst.exe\" Quendal-My Site ");
    ChildResult again = Install(command);
    CHECK(again.exitCode == 0);
    CHECK(LinesOf(again)[1] == L"Uninstalling the existing Quendal-My Site 5.18 installation");
    UninstallThroughEntry(site);
    CHECK_FALSE(Exists(dir + L"\\Quendal.exe"));
    CHECK(Joined(Test::Snapshot::Take().Differences(before, Test::KeptAfterRemoval(dir, site))) == "");

    // A name with the shell's characters: the quiet command, which tools run
    // through cmd, names it in quotes, and removes that site and no other.
    const std::wstring shellSite = L"Quendal-R&D ^1", shellDir = L"C:\\Sites\\" + shellSite;
    REQUIRE(Install(L"\"-installDir=" + shellDir + L"\" -acceptEULA").exitCode == 0);
    const std::wstring quiet = Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + shellSite, L"QuietUninstallString");
    CHECK(quiet == L"\"" + shellDir + L"\\uninst.exe\" \"" + shellSite + L"\" -unat");
    ChildResult removal = Test::RunCaptured(L"cmd /c \"" + quiet + L"\"");
    const std::string output = Test::Narrow(removal.text);
    CAPTURE(output);
    for (int i = 0; i < 200 && Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + shellSite); ++i)
        Sleep(100);
    Sleep(500);
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + shellSite));
    CHECK_FALSE(Exists(shellDir + L"\\Quendal.exe"));
    std::vector<std::wstring> kept = Test::KeptAfterRemoval(dir, site), keptShell = Test::KeptAfterRemoval(shellDir, shellSite);
    kept.insert(kept.end(), keptShell.begin(), keptShell.end());
    CHECK(Joined(Test::Snapshot::Take().Differences(before, kept)) == "");
}

// Uninstall entries the installer did not write, one row a case: what the
// entry says, how the run ends, and a line it must say. Bait files and keys
// must survive every row, and the marker program must never run.
TEST_CASE("install: a hostile or stale uninstall entry acts on nothing outside its site")
{
    const std::wstring victim = L"C:\\Victim", marker = victim + L"\\marker.exe", log = victim + L"\\marker.log";
    CreateDirectoryW(victim.c_str(), nullptr);
    Test::WriteTextFile(victim + L"\\keep.txt", "keep");
    REQUIRE(CopyFileW((Test::OwnDirectory() + L"\\fake_uninstaller.exe").c_str(), marker.c_str(), FALSE));
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim", L"Keep", REG_SZ, L"1", 4) == ERROR_SUCCESS);
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", log.c_str());
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", L"exit:0");
    // A service of someone else's that runs, and must go on running.
    StartService(L"Spooler");
    REQUIRE(Test::WaitForServiceState(L"Spooler", SERVICE_RUNNING));
    const std::wstring outside = L" \"-delFile=" + victim + L"\\keep.txt\" \"-delRegKey=HKEY_LOCAL_MACHINE\\SOFTWARE\\Victim\""
                                 L" \"-unregSvr=" + marker + L"\" \"-execUninst=" + marker + L"\" \"-killProc=" + marker +
                                 L"\" \"-delDir=" + victim + L"\" \"-stopSvc=Spooler\"";
    struct Row {
        const char* name;
        const wchar_t* site;
        const wchar_t* version;
        std::wstring uninstallString; // empty: the site's own uninst.exe
        std::wstring params;          // after -feedback=yes
        const wchar_t* options;
        DWORD code;
        std::wstring line;
    };
    const Row rows[] = {
        {"older: the package's uninstaller skips what lies outside", L"Quendal-H1", L"5.10", L"",
         L" \"-workDir=C:\\Sites\\Quendal-H1\"" + outside, L"", 0,
         L"Skipped, outside the site: -delFile=" + victim + L"\\keep.txt"},
        {"older: a work directory that is not the site's", L"Quendal-H2", L"5.10", L"",
         L" \"-workDir=" + victim + L"\"" + outside, L"", 0, L"Skipped, not the site's own folder: -workDir=" + victim},
        {"not older: another program as the uninstaller", L"Quendal-H3", L"9.0", L"\"" + marker + L"\" Quendal-H3 ",
         L" \"-workDir=C:\\Sites\\Quendal-H3\"", L"", 107,
         L"The previous uninstaller '" + marker + L"' is not uninst.exe in the site's own folder (use /Force flag to "
         L"override uninstallation failure); aborting"},
        {"not older, -force: a warning, and the installation", L"Quendal-H4", L"9.0",
         L"\"" + marker + L"\" Quendal-H4 ", L" \"-workDir=C:\\Sites\\Quendal-H4\"", L" -force", 0,
         L"Warning: The previous uninstaller '" + marker + L"' is not uninst.exe in the site's own folder"},
        {"not older: a bare file name", L"Quendal-H5", L"9.0", L"uninst.exe Quendal-H5 ",
         L" \"-workDir=C:\\Sites\\Quendal-H5\"", L"", 107,
         L"The previous uninstaller 'uninst.exe' is not uninst.exe in the site's own folder (use /Force flag to "
         L"override uninstallation failure); aborting"},
    };
    for (const Row& r : rows) {
        const std::string name = r.name;
        CAPTURE(name);
        const std::wstring dir = std::wstring(L"C:\\Sites\\") + r.site;
        Test::ScopedRegKey entry(HKEY_LOCAL_MACHINE, kUninstall + r.site);
        entry.SetString(L"Version", r.version);
        entry.SetString(L"InstallDir", dir);
        entry.SetString(L"UninstallString",
                        r.uninstallString.empty() ? L"\"" + dir + L"\\uninst.exe\" " + r.site + L" " : r.uninstallString);
        entry.SetString(L"UninstallParam", L" -feedback=yes" + r.params);
        ChildResult result = Install(L"-installDir=" + dir + L" -acceptEULA" + r.options);
        const std::string output = Test::Narrow(result.text);
        CAPTURE(output);
        CHECK(result.exitCode == r.code);
        CHECK(Contains(LinesOf(result), r.line));
        CHECK(Exists(victim + L"\\keep.txt"));
        CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Victim"));
        CHECK_FALSE(Exists(log));
        CHECK(Test::ServiceState(L"Spooler") == SERVICE_RUNNING);
    }
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", nullptr);
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", nullptr);
}

// A copy of the installer whose package resource is `package`.
std::wstring StampedInstaller(const Test::Bytes& package)
{
    CreateDirectoryW(L"C:\\Stamped", nullptr);
    const std::wstring copy = L"C:\\Stamped\\QuendalInstaller.exe";
    REQUIRE(CopyFileW(Test::Env(L"QUENDAL_INSTALLER").c_str(), copy.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    REQUIRE(update != nullptr);
    REQUIRE(UpdateResourceW(update, L"BINARY", MAKEINTRESOURCEW(130), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            const_cast<std::uint8_t*>(package.data()), static_cast<DWORD>(package.size())));
    REQUIRE(EndUpdateResourceW(update, FALSE));
    return copy;
}

// Packages the installer must refuse, one row a case, each stamped into a
// copy of the real installer: the run fails with the reason, writes nothing
// where the package points and leaves the machine as it was.
TEST_CASE("install: a package the installer must refuse, stamped into a copy of it")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Stamp";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    CreateDirectoryW(L"C:\\Stamped", nullptr);
    Test::Stream twelve;
    for (int i = 0; i < 12; ++i)
        twelve.File("file" + std::to_string(i) + ".txt", "data " + std::to_string(i));
    Test::Stream all = twelve;
    for (int i = 12; i < 31; ++i)
        all.File("file" + std::to_string(i) + ".txt", "data " + std::to_string(i));
    struct Row {
        const char* name;
        Test::Bytes package;
        std::wstring reason;
    };
    const Row rows[] = {
        {"a device name", Test::Pack(Test::Stream().File("a.txt", "a").File("COM1", "to the port").bytes),
         L"WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name 'COM1'"},
        {"a device name in a folder", Test::Pack(Test::Stream().File("TermInfo\\lpt1.txt", "x").bytes),
         L"WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name 'TermInfo\\lpt1.txt'"},
        {"a way out of the folder", Test::Pack(Test::Stream().File("..\\..\\escaped.txt", "x").bytes),
         L"WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name '..\\..\\escaped.txt'"},
        {"a size announced at a message's end, before the real end", Test::Pack(all.bytes, twelve.bytes.size()),
         L"WriteFilesFromLzmaStream: compressed data continues after the announced size"},
    };
    for (const Row& r : rows) {
        const std::string name = r.name;
        CAPTURE(name);
        const std::wstring stamped = StampedInstaller(r.package);
        Test::Snapshot before = Test::Snapshot::Take();
        for (const wchar_t* options : {L"", L" -force"}) {
            ChildResult result =
                Test::RunCaptured(L"\"" + stamped + L"\" -installDir=" + dir + L" -acceptEULA" + options, 120000);
            const std::string output = Test::Narrow(result.text);
            CAPTURE(output);
            CHECK(result.exitCode == 150);
            CHECK(LinesOf(result).back() == L"Exception caught: " + r.reason);
            CHECK_FALSE(Exists(L"C:\\escaped.txt"));
            CHECK(Joined(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry})) == "");
        }
    }
}

// The same over a running site: found before its installation goes, so that
// its server runs on without a pause and nothing of it changed.
TEST_CASE("install: a package the installer must refuse, over a running site, leaves it running")
{
    const std::wstring site = L"Quendal-StampUp", dir = L"C:\\Sites\\" + site;
    CreateDirectoryW(L"C:\\Sites", nullptr);
    REQUIRE(Install(L"-installDir=" + dir + L" -acceptEULA -startService").exitCode == 0);
    REQUIRE(Test::WaitForServiceState(site.c_str(), SERVICE_RUNNING));
    Test::WriteTextFile(dir + L"\\ReadMe.txt", "edited by the administrator");
    const DWORD server = Test::ServiceProcessId(site.c_str());
    REQUIRE(server != 0);
    wchar_t data[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE);
    const std::vector<std::wstring> ignored = {Test::kMakerKeyEntry, L"file:" + dir + L"\\Config\\*",
                                               L"file:" + std::wstring(data) + L"\\Korvane Quendal Setup\\*"};
    Test::Snapshot before = Test::Snapshot::Take();
    const std::wstring stamped =
        StampedInstaller(Test::Pack(Test::Stream().File("a.txt", "a").File("COM1", "to the port").bytes));
    ChildResult r = Test::RunCaptured(L"\"" + stamped + L"\" -installDir=" + dir + L" -acceptEULA", 120000);
    const std::string output = Test::Narrow(r.text);
    CAPTURE(output);
    CHECK(r.exitCode == 150);
    CHECK(LinesOf(r).back() == L"Exception caught: WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name 'COM1'");
    for (const std::wstring& line : LinesOf(r))
        CHECK(line.rfind(L"Uninstalling the existing", 0) == std::wstring::npos);
    CHECK(Test::ServiceProcessId(site.c_str()) == server);
    CHECK(Test::ReadFileBytes(dir + L"\\ReadMe.txt") == "edited by the administrator");
    CHECK(Joined(Test::Snapshot::Take().Differences(before, ignored)) == "");
}

TEST_CASE("install: unattended without -acceptEULA, and the interactive run without a dialog")
{
    ChildResult r = Install(L"-installDir=C:\\Q");
    CHECK(r.exitCode == 140);
    CHECK(r.output == "Missing -acceptEULA parameter to indicate your acceptance of the Quendal End-User License "
                      "Agreement. Please run this installer without parameters to read the EULA, then supply the "
                      "-acceptEULA parameter for unattended installation.\r\n");
    CHECK_FALSE(Exists(L"C:\\Q"));

    // -interactive with -acceptEULA and a directory needs no dialog, but still
    // shows the completion box.
    Test::MessageBoxAnswerer done(L"Installation Completed", IDOK);
    ChildResult i = Install(L"-interactive -acceptEULA -installDir=C:\\Sites\\Quendal-Ui");
    CHECK(i.exitCode == 0);
    REQUIRE(done.Texts().size() == 1);
    CHECK(done.Texts()[0].rfind(L"Korvane Quendal 5.18 installation completed.", 0) == 0);
    // The control panel is left running at the end of an interactive run.
    HWND panel = nullptr;
    for (int n = 0; n < 100 && !panel; ++n, Sleep(100))
        panel = FindWindowW(L"QuendalControlPanel", L"Korvane Quendal-Ui Control Panel");
    CHECK(panel != nullptr);
}

TEST_CASE("install: Windows older than Windows 2000")
{
    // Wine's Windows version of this prefix: NT 4.0.
    HKEY wine;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &wine,
                            nullptr) == 0);
    const wchar_t nt4[] = L"nt40";
    RegSetValueExW(wine, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(nt4), sizeof(nt4));
    RegCloseKey(wine);
    ChildResult r = Install(L"-installDir=C:\\Sites\\Quendal-Old -acceptEULA");
    CHECK(r.exitCode == 130);
    CHECK(r.output == "Quendal requires Windows 2000, or higher (use /Force flag to override version checking), "
                      "aborting\r\n");
    // Interactively the question, with No as the default.
    {
        Test::MessageBoxAnswerer no(L"Unsupported OS Version Detected", IDNO);
        CHECK(Install(L"-interactive -acceptEULA -installDir=C:\\Sites\\Quendal-Old").exitCode == 130);
        CHECK(no.Texts() == Lines{L"The minimum requirement for installing Quendal is Windows 2000.\nDoes your system "
                                  L"meet Quendal minimum requirements?"});
        CHECK(no.DefaultButtons() == std::vector<int>{IDNO});
    }
    ChildResult forced = Install(L"-installDir=C:\\Sites\\Quendal-Old -acceptEULA -force");
    CHECK(forced.exitCode == 0);
    CHECK(LinesOf(forced).front() == L"Warning: Quendal requires Windows 2000, or higher");
}

TEST_CASE("install: the product's uninstaller leaves the machine as it was before")
{
    CreateDirectoryW(L"C:\\Sites", nullptr); // holds the server's data afterwards
    Test::Snapshot before = Test::Snapshot::Take();
    CHECK(Install(L"-installDir=C:\\Sites\\Quendal-Gone -acceptEULA -startService").exitCode == 0);
    CHECK(Test::WaitForServiceState(L"Quendal-Gone", SERVICE_RUNNING));
    UninstallThroughEntry(L"Quendal-Gone");
    auto diff = Test::Snapshot::Take().Differences(before, Test::KeptAfterRemoval(L"C:\\Sites\\Quendal-Gone", L"Quendal-Gone"));
    CHECK(Joined(diff) == "");
    CHECK(Exists(L"C:\\Sites\\Quendal-Gone\\Config"));
    CHECK_FALSE(Exists(L"C:\\Sites\\Quendal-Gone\\Quendal.exe"));
}

TEST_CASE("install: the uninstaller waits for a service held open, and says what it could not remove")
{
    const std::wstring site = L"Quendal-Svc", dir = L"C:\\Sites\\" + site;
    const std::wstring serviceKey = L"SYSTEM\\CurrentControlSet\\Services\\" + site;
    const std::wstring install = L"-installDir=" + dir + L" -acceptEULA -startService";
    CreateDirectoryW(L"C:\\Sites", nullptr);
    Test::Snapshot before = Test::Snapshot::Take();
    auto uninstallWith = [&](const wchar_t* rule) {
        REQUIRE(Install(install).exitCode == 0);
        ForcedExit forced(rule);
        ChildResult r = Test::RunCaptured(
            Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + site, L"UninstallString") + L"-unat");
        return r;
    };
    SUBCASE("a service only marked for deletion asks for a restart")
    {
        ChildResult r = uninstallWith(L"Quendal.exe:/unregserver=1072");
        CAPTURE(Test::Narrow(r.text));
        CHECK(r.exitCode == 3010);
        CHECK(Contains(LinesOf(r), L"The service is still in use and will be deleted when Windows restarts: " + dir +
                                       L"\\Quendal.exe"));
    }
    SUBCASE("a failed unregistration of the service: the service goes by name")
    {
        ChildResult r = uninstallWith(L"Quendal.exe:/unregserver=5");
        CAPTURE(Test::Narrow(r.text));
        CHECK(r.exitCode == 0);
        // The error's text is the system's own.
        const Lines lines = LinesOf(r);
        CHECK(std::any_of(lines.begin(), lines.end(), [](const std::wstring& line) {
            return line.rfind(L"Unregistering service failed: Windows error 5: ", 0) == 0;
        }));
        CHECK(Contains(lines, L"Deleting service " + site));
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, serviceKey));
    }
    SUBCASE("the server's program gone and the COM server's unregistration failing: the removal says it did not "
            "finish, keeps what it needs to be run again, and run again it finishes")
    {
        REQUIRE(Install(install).exitCode == 0);
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE svc = OpenServiceW(scm, site.c_str(), SERVICE_STOP);
        SERVICE_STATUS status = {};
        ControlService(svc, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(svc);
        CloseServiceHandle(scm);
        REQUIRE(Test::WaitForServiceState(site.c_str(), SERVICE_STOPPED));
        for (int i = 0; i < 50 && !DeleteFileW((dir + L"\\Quendal.exe").c_str()); ++i)
            Sleep(100);
        REQUIRE_FALSE(Exists(dir + L"\\Quendal.exe"));
        const std::wstring uninstall = Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + site, L"UninstallString");
        {
            ForcedExit forced(L"QuendalCfgManip.exe:/UnregServer=5");
            ChildResult r = Test::RunCaptured(uninstall + L"-unat");
            CAPTURE(Test::Narrow(r.text));
            CHECK(r.exitCode == 0x20000);
            const Lines lines = LinesOf(r);
            // The auto-start service whose program is gone is no one's to
            // take: it goes by name.
            CHECK(Contains(lines, L"Deleting service " + site));
            CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, serviceKey));
            CHECK(Contains(lines, L"The removal did not finish: the files, the settings and the uninstall entry of " +
                                      site + L" stay, so that it can be run again"));
            CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + site));
            CHECK(Exists(dir + L"\\uninst.exe"));
            CHECK(Exists(dir + L"\\QuendalCfgManip.exe"));
        }
        ChildResult again = Test::RunCaptured(uninstall + L"-unat");
        CAPTURE(Test::Narrow(again.text));
        CHECK(again.exitCode == 0);
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + site));
    }
    // The forced exits left the service registered; the server's own
    // unregistration is what removes it.
    if (Test::KeyExists(HKEY_LOCAL_MACHINE, serviceKey)) {
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE svc = OpenServiceW(scm, site.c_str(), DELETE);
        CHECK(DeleteService(svc));
        CloseServiceHandle(svc);
        CloseServiceHandle(scm);
    }
    SUBCASE("deleted while another program holds it, the service is gone when the uninstaller ends")
    {
        REQUIRE(Install(install).exitCode == 0);
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE held = OpenServiceW(scm, site.c_str(), SERVICE_QUERY_STATUS);
        REQUIRE(held != nullptr);
        Test::CapturedChild child(Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + site, L"UninstallString") +
                                  L"-unat");
        CHECK(child.WaitForLine(L"Unregistering service " + dir + L"\\Quendal.exe"));
        Sleep(1500);
        CHECK(WaitForSingleObject(child.Process(), 0) == WAIT_TIMEOUT);
        CloseServiceHandle(held);
        CloseServiceHandle(scm);
        ChildResult r = child.Wait();
        CAPTURE(Test::Narrow(r.text));
        CHECK(r.exitCode == 0);
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, serviceKey));
    }
    CHECK(Joined(Test::Snapshot::Take().Differences(before, Test::KeptAfterRemoval(dir, site))) == "");
}

// The installer's main dialog once it shows; where the installer ends
// without it, at once, with what it said and its exit code.
static HWND DialogOf(Test::CapturedChild& child, const wchar_t* title)
{
    for (DWORD waited = 0; waited < 60000; waited += 100) {
        if (HWND dlg = Test::WaitForWindow(title, 0))
            return dlg;
        if (WaitForSingleObject(child.Process(), 100) == WAIT_OBJECT_0) {
            ChildResult r = child.Wait();
            FAIL_CHECK("the installer ended with " << r.exitCode << " before its dialog showed: " << r.output);
            return nullptr;
        }
    }
    FAIL_CHECK("the installer's dialog did not show within a minute");
    return nullptr;
}

TEST_CASE("install: the main dialog of a run without options")
{
    const wchar_t title[] = L"Korvane Quendal 5.18 Installer";
    const std::wstring installer = L"\"" + Test::Env(L"QUENDAL_INSTALLER") + L"\"";
    SUBCASE("the agreement accepted and Install pressed: a complete installation, and the control panel")
    {
        Test::MessageBoxAnswerer done(L"Installation Completed", IDOK);
        Test::CapturedChild child(installer);
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver d(dlg);
        CHECK(d.Text(1001) == ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Korvane Quendal");
        CHECK_FALSE(d.Enabled(IDOK));
        d.Type(1001, L"C:\\Sites\\Quendal-Dlg");
        CHECK(d.Checked(1016));
        CHECK(d.Text(1017) == L"Dlg");
        d.Click(1004);
        REQUIRE(d.Enabled(IDOK));
        d.Click(IDOK);
        ChildResult r = child.Wait(120000);
        CHECK(r.exitCode == 0);
        CHECK(LinesOf(r).back() == L"Korvane Quendal 5.18 installation completed.");
        CHECK(done.Texts().size() == 1);
        CHECK(Exists(L"C:\\Sites\\Quendal-Dlg\\Quendal.exe"));
        CHECK(Test::ServiceState(L"Quendal-Dlg") == SERVICE_STOPPED);
        CheckRegistryView(L"Quendal-Dlg");
        HWND panel = nullptr;
        for (int n = 0; n < 100 && !panel; ++n, Sleep(100))
            panel = FindWindowW(L"QuendalControlPanel", L"Korvane Quendal-Dlg Control Panel");
        CHECK(panel != nullptr);
    }
    SUBCASE("-interactive with a site but no agreement shows the dialog at the site's folder")
    {
        Test::CapturedChild child(installer + L" -interactive -site=Quendal-Ui");
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver d(dlg);
        CHECK(d.Text(1001) == ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Quendal-Ui");
        CHECK(d.Checked(1016));
        CHECK_FALSE(d.Checked(1004));
        d.PressEscape();
        CHECK(child.Wait(60000).exitCode == 202);
    }
    SUBCASE("an entry whose folder is another site's is not offered: no row, never its folder")
    {
        // Quendal-A's entry names Quendal-B's folder (a stale history);
        // Quendal-C's is its own.
        auto entry = [](const std::wstring& site, const std::wstring& dir) {
            Test::ScopedRegKey* key = new Test::ScopedRegKey(HKEY_LOCAL_MACHINE, kUninstall + site);
            key->SetString(L"Version", L"5.10");
            key->SetString(L"InstallDir", dir);
            key->SetString(L"UninstallString", L"\"" + dir + L"\\uninst.exe\" " + site + L" ");
            return std::unique_ptr<Test::ScopedRegKey>(key);
        };
        // The sites installed by the subcases before this one, each in its own folder.
        LRESULT installedBefore = 0;
        HKEY list;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), 0, KEY_READ, &list) == ERROR_SUCCESS) {
            wchar_t name[256];
            for (DWORD i = 0, n = 256; RegEnumKeyExW(list, i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
                 ++i, n = 256)
                installedBefore += std::wstring(name).rfind(L"Quendal", 0) == 0;
            RegCloseKey(list);
        }
        auto stale = entry(L"Quendal-A", L"C:\\Sites\\Quendal-B");
        auto own = entry(L"Quendal-C", L"C:\\Sites\\Quendal-C");
        Test::CapturedChild child(installer);
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver d(dlg);
        CHECK(SendMessageW(d.Item(1012), LVM_GETITEMCOUNT, 0, 0) == installedBefore + 1);
        CHECK(d.Text(1001) != L"C:\\Sites\\Quendal-B");
        d.PressEscape();
        CHECK(child.Wait(60000).exitCode == 202);
    }
    SUBCASE("a location the installation may not take: Install stays disabled, the field says why")
    {
        Test::Snapshot before = Test::Snapshot::Take();
        Test::CapturedChild child(installer);
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver d(dlg);
        d.Click(1004);
        REQUIRE(d.Enabled(IDOK));
        d.Type(1001, L"C:\\windows");
        CHECK_FALSE(d.Enabled(IDOK));
        d.Type(1001, ShellFolder(CSIDL_PROGRAM_FILES));
        CHECK_FALSE(d.Enabled(IDOK));
        d.Type(1001, L"C:\\Sites\\Quendal-Ok");
        CHECK(d.Enabled(IDOK));
        d.PressEscape();
        CHECK(child.Wait(60000).exitCode == 202);
        CHECK(Joined(Test::Snapshot::Take().Differences(before, {})) == "");
    }
    SUBCASE("Cancel: 202, and the machine as it was")
    {
        Test::Snapshot before = Test::Snapshot::Take();
        Test::CapturedChild child(installer);
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver(dlg).Click(IDCANCEL);
        ChildResult r = child.Wait(60000);
        CHECK(r.exitCode == 202);
        CHECK(r.output == "");
        CHECK(Joined(Test::Snapshot::Take().Differences(before, {})) == "");
    }
    SUBCASE("an installed site of an older version is offered as Upgrade, and upgraded")
    {
        const std::wstring dir = L"C:\\Sites\\Quendal-Old";
        REQUIRE(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
        HKEY key;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kUninstall + L"Quendal-Old").c_str(), 0, KEY_SET_VALUE, &key) == 0);
        const wchar_t old[] = L"5.10";
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof(old));
        RegCloseKey(key);
        Test::MessageBoxAnswerer done(L"Installation Completed", IDOK);
        Test::CapturedChild child(installer);
        HWND dlg = DialogOf(child, title);
        REQUIRE(dlg != nullptr);
        Test::DialogDriver d(dlg);
        // The site of an earlier subcase may be installed too: choose this one.
        d.Type(1001, dir);
        CHECK(d.Checked(1013));
        CHECK(d.Text(IDOK) == L"Upgrade");
        d.Click(1010); // no control panel this time
        d.Click(1004);
        d.Click(IDOK);
        ChildResult r = child.Wait(120000);
        CHECK(r.exitCode == 0);
        CHECK(LinesOf(r)[1] == L"Uninstalling the existing Quendal-Old 5.10 installation");
        CHECK(Test::RegString(HKEY_LOCAL_MACHINE, kUninstall + L"Quendal-Old", L"Version") == L"5.18");
        Sleep(1000);
        CHECK(FindWindowW(L"QuendalControlPanel", L"Korvane Quendal-Old Control Panel") == nullptr);
    }
}

TEST_CASE("install: a previous uninstaller that ends without its result stops the run, or warns with -force")
{
    const std::wstring dir = L"C:\\Sites\\Quendal-Odd";
    REQUIRE(Install(L"-installDir=" + dir + L" -acceptEULA").exitCode == 0);
    const std::wstring uninstaller = dir + L"\\uninst.exe";
    // A broken uninstaller of the same version in the site's folder, the
    // product's as far as its version resource and signature go: it exits
    // with 1 or crashes, and never reports a result.
    REQUIRE(CopyFileW((Test::OwnDirectory() + L"\\fake_uninstaller_signed.exe").c_str(), uninstaller.c_str(), FALSE));
    for (const wchar_t* mode : {L"exit:1", L"exit:C0000005"}) {
        CAPTURE(Test::Narrow(mode));
        SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", mode);
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(r.exitCode == 107);
        CHECK(LinesOf(r).back() == L"The uninstaller ended with exit code 0x" + std::wstring(mode).substr(5) +
                                       L" without reporting its result (use /Force flag to override uninstallation "
                                       L"failure); aborting");
    }
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", L"exit:1");
    ChildResult forced = Install(L"-installDir=" + dir + L" -acceptEULA -force");
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", nullptr);
    CHECK(forced.exitCode == 0);
    CHECK(Contains(LinesOf(forced), L"Warning: The uninstaller ended with exit code 0x1 without reporting its result"));

    // An uninst.exe in the site's own folder that is not the product's never
    // runs: another program's, or one without this installer's signature.
    const std::wstring log = dir + L"\\fake.log";
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", log.c_str());
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", L"exit:0");
    struct Foreign {
        std::wstring program, reason;
    };
    std::vector<Foreign> foreign = {
        {Test::Env(L"WINDIR") + L"\\system32\\notepad.exe", L"is not Korvane Quendal's"},
    };
#ifdef QUENDAL_SIGNED_BUILD
    foreign.push_back({Test::OwnDirectory() + L"\\fake_uninstaller.exe", L"is not signed by this installer's signer"});
    // The signer's name on a certificate of its own, chained to no trusted root.
    foreign.push_back(
        {Test::OwnDirectory() + L"\\fake_uninstaller_impostor.exe", L"is not signed by this installer's signer"});
#endif
    for (const Foreign& f : foreign) {
        CAPTURE(Test::Narrow(f.program));
        REQUIRE(CopyFileW(f.program.c_str(), uninstaller.c_str(), FALSE));
        const std::wstring refused = L"The previous uninstaller '" + uninstaller + L"' " + f.reason;
        ChildResult r = Install(L"-installDir=" + dir + L" -acceptEULA");
        CHECK(r.exitCode == 107);
        CHECK(LinesOf(r).back() == refused + L" (use /Force flag to override uninstallation failure); aborting");
        ChildResult warned = Install(L"-installDir=" + dir + L" -acceptEULA -force");
        CHECK(warned.exitCode == 0);
        CHECK(Contains(LinesOf(warned), L"Warning: " + refused));
        CHECK_FALSE(Exists(log));
    }
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL", nullptr);
    SetEnvironmentVariableW(L"QUENDAL_FAKE_UNINSTALL_LOG", nullptr);
}
