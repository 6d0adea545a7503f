// The product's uninstaller, against an installation laid down by the
// installation's own steps.
#include "../../nocrtlib/NoCrtFormat.h"
#include "../../steps/CreateShortcut.h"
#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallSettings.h"
#include "../../steps/MakeInstallDir.h"
#include "../../steps/RegisterServer.h"
#include "../../steps/RegisterService.h"
#include "../../steps/RegisterUninstaller.h"
#include "../../steps/SecuredInstallDir.h"
#include "../../steps/ShellFolders.h"
#include "../../steps/StepReport.h"
#include "../../steps/WriteFilesFromLzmaStream.h"
#include "../../wwlib/SiteScope.h"
#include "../../wwlib/UninstallParams.h"
#include "../../package/UninstallScope.h"
#include "../../upgrade/PreviousUninstaller.h"
#include "../../wwlib/Product.h"
#include "../../wwlib/Sid.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include "../support/RunMode.h"
#include <doctest/doctest.h>
#include <memory>
#include <vector>

using Test::W;

namespace {

const wchar_t kSite[] = L"Quendal-Test";
const wchar_t kCfgClsid[] = L"CLSID\\{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}";

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
DWORD ServiceState()
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = OpenServiceW(scm, kSite, SERVICE_QUERY_STATUS);
    SERVICE_STATUS s = {};
    DWORD state = svc && QueryServiceStatus(svc, &s) ? s.dwCurrentState : 0;
    if (svc)
        CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return state;
}

// An installation of the site, made by the steps in the order an installation
// builds them, then committed.
struct Installation {
    Test::TempDir root;
    std::wstring dir = root.Path() + L"\\Quendal-Test";
    std::wstring startMenu;
    std::wstring entryKey = std::wstring(kUninstallKey) + L"\\Quendal-Test";

    // `startMenuUser`: the token user whose Start-menu folder the
    // installation takes (LocalSystem's is the all-users one); the test's own by default.
    explicit Installation(PSID startMenuUser = nullptr)
    {
        InstallSettings& settings = TheInstallSettings();
        settings.installDir = dir.c_str();
        settings.uninstallerPath = (dir + L"\\uninst.exe").c_str();
        TheSiteName() = kSite;
        AppendUninstallFeedback();
        AppendUninstallParam(L"workDir", settings.installDir);
        AppendUninstallParam(L"stopSvc", kSite);
        for (const wchar_t* program : {L"srvctrl.exe", L"srvcfg.exe", L"QuendalCfgManip.exe"})
            AppendUninstallParam(L"killProc", (dir + L"\\" + program).c_str());
        AppendUninstallParam(L"execUninst", (dir + L"\\srvctrl.exe").c_str());
        startMenu = W(startMenuUser ? StartMenuProgramsDirFor(startMenuUser) : GetProgramsDir()) +
                    L"\\Korvane Quendal-Test";

        SecuredInstallDir secured;
        secured.Secure();
        MakeInstallDir termInfo((dir + L"\\TermInfo").c_str(), nullptr, 6);
        WriteFilesFromLzmaStream files({dir.c_str(), L"", L"", L""}, WriteFilesFromLzmaStream::AllFiles);
        MakeInstallDir menu(startMenu.c_str(), nullptr, 4);
        CreateShortcutPlan shortcuts(startMenu.c_str());
        RegisterService service((dir + L"\\Quendal.exe").c_str());
        RegisterServer server((dir + L"\\QuendalCfgManip.exe").c_str());
        RegisterUninstaller entry(kSite, L"Korvane Quendal-Test 5.18 (remove only)", Product::kName,
                                  Product::kVersion);
        server.Commit();
        service.Commit();
        entry.Commit();
        shortcuts.Commit();
        menu.Commit();
        files.Commit();
        termInfo.Commit();
        secured.Commit();
    }

    std::wstring UninstallString() const
    {
        wchar_t value[1024] = {};
        DWORD size = sizeof(value);
        RegGetValueW(HKEY_LOCAL_MACHINE, entryKey.c_str(), L"UninstallString", RRF_RT_REG_SZ, nullptr, value, &size);
        return value;
    }
};

// Runs the uninstaller the way the uninstall entry does, unattended, with a
// result channel of the test's own, and returns its result.
DWORD RunUnattended(const std::wstring& command)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4, nullptr);
    HANDLE done = CreateEventW(&sa, TRUE, FALSE, nullptr);
    wchar_t hexMap[24], hexDone[24];
    FormatUnsigned(reinterpret_cast<ULONG_PTR>(mapping), 1, 16, hexMap);
    FormatUnsigned(reinterpret_cast<ULONG_PTR>(done), 1, 16, hexDone);
    std::wstring line = command + L" -unat -result=" + hexMap + L" -done=" + hexDone;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CHECK(code == 1); // started from the installation: a copy does the work
    REQUIRE(WaitForSingleObject(done, 60000) == WAIT_OBJECT_0);
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4);
    DWORD result = *static_cast<DWORD*>(view);
    UnmapViewOfFile(view);
    CloseHandle(done);
    CloseHandle(mapping);
    return result;
}

std::wstring PendingText()
{
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size))
        return std::wstring();
    // Each string followed by "|"; a deletion's empty destination shows as "||".
    std::wstring all;
    std::size_t n = size / sizeof(wchar_t);
    if (n >= 2 && data[n - 2] == 0)
        --n;
    for (std::size_t pos = 0; pos + 1 < n;) {
        std::wstring s(data.data() + pos);
        all += s + L"|";
        pos += s.size() + 1;
    }
    return all;
}

} // namespace

TEST_CASE("the uninstaller removes everything the parameter list names, and nothing else")
{
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Installation install;
    const std::wstring& dir = install.dir;
    REQUIRE(Exists(dir + L"\\uninst.exe"));
    REQUIRE(Test::KeyExists(HKEY_CLASSES_ROOT, kCfgClsid));
    REQUIRE(Exists(install.startMenu + L"\\Uninstall Quendal-Test.lnk"));
    // The service runs, the control panel is open, the server wrote its own
    // settings, and another program holds a file of the installation open.
    StartSiteService();
    for (int i = 0; i < 100 && ServiceState() != SERVICE_RUNNING; ++i)
        Sleep(100);
    REQUIRE(ServiceState() == SERVICE_RUNNING);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION panel = {};
    std::wstring panelCmd = L"\"" + dir + L"\\srvctrl.exe\"";
    REQUIRE(CreateProcessW(nullptr, &panelCmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &panel));
    // The running server has made its Config folder already, for its log.
    REQUIRE((CreateDirectoryW((dir + L"\\Config").c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS));
    Test::WriteTextFile(dir + L"\\Config\\Quendal-Settings.qst", "user data");
    const std::wstring locked = dir + L"\\ReadMe.txt";
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);

    DWORD result = RunUnattended(install.UninstallString());
    CHECK(result == 0x2); // the locked file needs a restart

    CHECK(WaitForSingleObject(panel.hProcess, 5000) == WAIT_OBJECT_0); // ended
    CloseHandle(panel.hProcess);
    CloseHandle(panel.hThread);
    CHECK(ServiceState() == 0);
    CHECK_FALSE(Test::KeyExists(HKEY_CLASSES_ROOT, kCfgClsid));
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, install.entryKey));
    CHECK_FALSE(Exists(install.startMenu));
    CHECK_FALSE(Exists(dir + L"\\uninst.exe"));
    CHECK_FALSE(Exists(dir + L"\\Quendal.exe"));
    CHECK_FALSE(Exists(dir + L"\\TermInfo"));
    CHECK(Exists(dir + L"\\Config\\Quendal-Settings.qst"));
    CHECK(Exists(locked));
    CHECK(PendingText().find(L"\\??\\" + locked + L"||") != std::wstring::npos);

    CloseHandle(lock);
    Test::ChildResult restart = Test::RunCaptured(L"C:\\windows\\system32\\wineboot.exe --restart", 120000);
    CHECK(restart.exitCode == 0);
    CHECK_FALSE(Exists(locked));
    CHECK(Exists(dir + L"\\Config\\Quendal-Settings.qst"));
    TheSiteName() = L"";
}

TEST_CASE("an upgrade's uninstaller run leaves the service registered")
{
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Installation install;
    // A file of the installation made read-only since does not stop the removal.
    const std::wstring readOnly = install.dir + L"\\ReadMe.txt";
    REQUIRE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    // RunUninstallerWithResult adds -reinstall and -skipUnregSvc.
    CHECK(RunUninstallerWithResult(install.UninstallString().c_str()) == 0);
    CHECK_FALSE(Exists(readOnly));
    CHECK(ServiceState() == SERVICE_STOPPED);
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, install.entryKey));
    CHECK_FALSE(Exists(install.dir + L"\\Quendal.exe"));
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = OpenServiceW(scm, kSite, DELETE);
    if (svc) {
        DeleteService(svc);
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    TheSiteName() = L"";
}

TEST_CASE("run interactively, the uninstaller asks first and reports the outcome")
{
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    Installation install;
    Test::MessageBoxAnswerer boxes(L"Korvane Quendal-Test Uninstallation", IDYES);
    Test::ChildResult r = Test::RunCaptured(install.UninstallString());
    CHECK(r.exitCode == 0); // the copy's result, which the first process waited for
    auto texts = boxes.Texts();
    REQUIRE(texts.size() == 2);
    CHECK(texts[0] == L"Do you want to remove Korvane Quendal-Test from this computer?");
    CHECK(texts[1] == L"Korvane Quendal-Test was removed.");
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, install.entryKey));
    CHECK(ServiceState() == 0);
    TheSiteName() = L"";
}

TEST_CASE("the quiet removal a deployment tool runs ends with its real result, once everything is done")
{
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    Test::TempDir logs(L"quendal-uninstall-log");
    const std::wstring log = logs.Path() + L"\\removal.log";
    SUBCASE("removed: 0, the folder gone when the code is read, the program file moved out of its way")
    {
        Installation install;
        const std::wstring quiet = install.UninstallString() + L"-unat -log=\"" + log + L"\"";
        Test::ChildResult r = Test::RunCaptured(quiet);
        CHECK(r.exitCode == 0);
        CHECK_FALSE(Exists(install.dir));
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, install.entryKey));
        CHECK_FALSE(Exists(install.startMenu));
        // Nothing of the folder waits for a restart; the moved program file
        // and the copy that did the work wait in the temporary folder.
        const std::wstring pending = PendingText();
        CAPTURE(Test::Narrow(pending));
        CHECK(pending.find(install.dir) == std::wstring::npos);
        CHECK(pending.find(L"\\unq") != std::wstring::npos);
        // The log: both processes' first and last lines, the copy's lines between.
        const std::string text = Test::ReadFileBytes(log);
        CAPTURE(text);
        std::size_t first = text.find(" Korvane Quendal 5.18 uninstaller ("), second = text.find(" uninstaller (", first + 1);
        CHECK(first != std::string::npos);
        CHECK(second != std::string::npos);
        CHECK(text.find("Deleting " + Test::Narrow(install.dir) + "\\uninst.exe\r\n") != std::string::npos);
        CHECK(text.find(r.output) != std::string::npos);
        const std::string last = " Exit code 0\r\n";
        CHECK(text.size() > last.size());
        CHECK(text.substr(text.size() - last.size()) == last);
    }
    SUBCASE("installed by LocalSystem: the all-users shortcuts go as well")
    {
        Installation install(Sid::LocalSystem().Get());
        wchar_t common[MAX_PATH] = {};
        REQUIRE(SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_PROGRAMS, FALSE));
        REQUIRE(install.startMenu.rfind(common, 0) == 0);
        REQUIRE(Exists(install.startMenu + L"\\Uninstall Quendal-Test.lnk"));
        Test::ChildResult r = Test::RunCaptured(install.UninstallString() + L"-unat");
        CHECK(r.exitCode == 0);
        CHECK_FALSE(Exists(install.startMenu));
        CHECK_FALSE(Exists(install.dir));
    }
    SUBCASE("a file held open: 3010, a restart finishes the removal")
    {
        Installation install;
        const std::wstring locked = install.dir + L"\\ReadMe.txt";
        HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(lock != INVALID_HANDLE_VALUE);
        Test::ChildResult r = Test::RunCaptured(install.UninstallString() + L"-unat");
        CloseHandle(lock);
        CHECK(r.exitCode == 3010);
        CHECK(r.text.find(L"Scheduling deletion on restart: " + locked + L"\r\n") != std::wstring::npos);
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, install.entryKey));
        CHECK(PendingText().find(L"\\??\\" + locked + L"||") != std::wstring::npos);
        DeleteFileW(locked.c_str());
        RemoveDirectoryW(install.dir.c_str());
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue);
    }
    SUBCASE("failures keep their codes: a site that is not installed, a wrong command line, a log not to be had")
    {
        const std::wstring uninst = Test::OwnDirectory() + L"\\..\\package\\uninst.exe";
        REQUIRE(Exists(uninst));
        CHECK(Test::RunCaptured(L"\"" + uninst + L"\" Quendal-NotInstalled -unat -log=\"" + log + L"\"").exitCode ==
              0x80000);
        CHECK(Test::RunCaptured(L"\"" + uninst + L"\" -unat -log=\"" + log + L"\"").exitCode == 0x40000);
        const std::string text = Test::ReadFileBytes(log);
        CHECK(text.find(" Exit code 524288\r\n") != std::string::npos);
        CHECK(text.find(" Exit code 262144\r\n") != std::string::npos);
        Test::ChildResult r =
            Test::RunCaptured(L"\"" + uninst + L"\" Quendal-NotInstalled -unat \"-log=" + logs.Path() + L"\\no\\x.log\"");
        CHECK(r.exitCode == 0x40000);
        CHECK(r.text.rfind(L"Cannot open the log file '" + logs.Path() + L"\\no\\x.log': ", 0) == 0);
    }
    TheSiteName() = L"";
}

TEST_CASE("the uninstaller's scope: every form of a path is checked in the installer's one form")
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring win = windows;
    Test::TempDir root(L"Quendal-V");
    const std::wstring dir = root.Path();

    // A work directory in a form the installer never stores is not the site's.
    for (const std::wstring& workDir : {L"\\\\?\\" + win + L"\\Quendal-V", L"\\\\.\\" + win + L"\\Quendal-V",
                                        L"\\\\?\\" + dir, dir + L"\\..\\Quendal-V", dir + L".", dir + L" "}) {
        CAPTURE(Test::Narrow(workDir));
        Package::UninstallScope scope(L"Quendal-V", workDir, workDir);
        CHECK_FALSE(scope.WorkDirAccepted());
        CHECK_FALSE(scope.Allows(L"delFile", L"\\\\?\\" + win + L"\\victim.txt"));
        CHECK_FALSE(scope.Allows(L"delFile", workDir + L"\\victim.txt"));
    }
    wchar_t shortDir[MAX_PATH];
    REQUIRE(GetShortPathNameW(dir.c_str(), shortDir, MAX_PATH) > 0);
    if (std::wstring(shortDir) != dir)
        CHECK_FALSE(Package::UninstallScope(L"Quendal-V", shortDir, shortDir).WorkDirAccepted());

    // The folder gives back the site's name, the default site's too: a
    // folder named as another site's is never the default site's.
    struct Owner {
        const wchar_t* site;
        const wchar_t* folder;
        bool accepted;
    };
    const std::wstring parent = dir.substr(0, dir.rfind(L'\\'));
    for (const Owner& o : {Owner{L"Quendal", L"Office", true}, Owner{L"Quendal", L"Quendal-V", false},
                           Owner{L"Quendal", L"Quendal-", false}, Owner{L"Quendal-V", L"Office", false},
                           Owner{L"Quendal-v", L"QUENDAL-V", true}}) {
        const std::wstring workDir = parent + L"\\" + o.folder;
        CAPTURE(Test::Narrow(workDir));
        CHECK(Package::UninstallScope(o.site, workDir, workDir).WorkDirAccepted() == o.accepted);
    }

    // The site's own folder: what lies in it, in whatever form, and nothing
    // that a form leads out of it.
    Package::UninstallScope scope(L"Quendal-V", dir, dir);
    REQUIRE(scope.WorkDirAccepted());
    CHECK(scope.Allows(L"delFile", dir + L"\\Quendal.exe"));
    CHECK(scope.Allows(L"delFile", L"\\\\?\\" + dir + L"\\Quendal.exe"));
    CHECK(scope.Allows(L"delFile", std::wstring(shortDir) + L"\\Quendal.exe"));
    CHECK_FALSE(scope.Allows(L"delFile", dir + L"\\..\\..\\victim.txt"));
    CHECK_FALSE(scope.Allows(L"delFile", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1" + dir.substr(2) + L"\\x"));
    CHECK_FALSE(scope.Allows(L"delFile", dir + L"\\a.\\b"));
    CHECK_FALSE(scope.Allows(L"killProc", L"\\\\?\\" + win + L"\\notepad.exe"));
}

TEST_CASE("the uninstall parameter list: one grammar for the installer that writes it and both programs that read it")
{
    using Params = std::vector<std::pair<std::wstring, std::wstring>>;
    // Read as the uninstaller reads it (standard strings) and as the
    // installer does (its own): the same parameters.
    auto read = [](const std::wstring& list) {
        Params standard, own;
        UninstallParams::ForEach(list, [&](const std::wstring& n, const std::wstring& v) { standard.push_back({n, v}); });
        UninstallParams::ForEach(WString(list.c_str()),
                                 [&](const WString& n, const WString& v) { own.push_back({W(n), W(v)}); });
        CHECK(standard == own);
        return standard;
    };
    struct Row {
        const wchar_t* list;
        Params params;
    };
    const Row rows[] = {
        {L" -feedback=yes \"-workDir=C:\\Sites\\Quendal A\" \"-delFile=C:\\Sites\\Quendal A\\x.exe\"",
         {{L"feedback", L"yes"}, {L"workDir", L"C:\\Sites\\Quendal A"}, {L"delFile", L"C:\\Sites\\Quendal A\\x.exe"}}},
        // A flag, a token that is no parameter, a value with "=" in it.
        {L"-skip stray \"-delRegValue=HKLM\\K\\a=b\"", {{L"skip", L""}, {L"delRegValue", L"HKLM\\K\\a=b"}}},
        // An unclosed quote runs to the end; spaces alone are nothing.
        {L"   \"-delDir=C:\\Q R", {{L"delDir", L"C:\\Q R"}}},
        {L"", {}},
    };
    for (const Row& row : rows) {
        CAPTURE(Test::Narrow(row.list));
        CHECK(read(row.list) == row.params);
    }
    // What is written reads back as it was, spaces and all; a value that
    // would break the list is not written.
    std::wstring list;
    CHECK(UninstallParams::Append(list, L"delFile", std::wstring(L"C:\\Program Files\\Korvane Quendal\\a b.dll")));
    CHECK(UninstallParams::Append(list, L"delRegKey", std::wstring(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\Quendal")));
    CHECK_FALSE(UninstallParams::Append(list, L"delFile", std::wstring(L"C:\\x\" \"-delFile=C:\\Windows\\win.ini")));
    CHECK(read(list) == Params{{L"delFile", L"C:\\Program Files\\Korvane Quendal\\a b.dll"},
                               {L"delRegKey", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\Quendal"}});
}

TEST_CASE("the site's places: one rule for the uninstaller's parameters and the journal's records")
{
    struct Row {
        const wchar_t* path;
        bool inFolder, shortcut, folderToRemove;
    };
    // A name that only begins as the site's folder does is another place.
    const Row rows[] = {
        {L"C:\\Sites\\Quendal-V\\Quendal.exe", true, false, true},
        {L"c:\\sites\\QUENDAL-V\\bin\\x.dll", true, false, true},
        {L"C:\\Sites\\Quendal-V", false, false, true},
        {L"C:\\Sites", false, false, true},
        {L"C:\\Sites\\Quendal-V2\\Quendal.exe", false, false, false},
        {L"C:\\Sites\\Quendal-V2", false, false, false},
        {L"C:\\Menu\\Korvane Quendal-V\\Quendal-V.lnk", false, true, true},
        {L"C:\\Menu\\Korvane Quendal-V", false, false, true},
        {L"C:\\Menu\\Korvane Quendal-V2\\x.lnk", false, false, false},
        {L"C:\\Tools\\Quendal-V Control Panel.lnk", false, true, false},
        {L"C:\\Tools\\Other.lnk", false, false, false},
    };
    auto places = [](auto text) {
        using String = decltype(text(L""));
        SiteScope::Places<String> p;
        p.site = text(L"Quendal-V");
        p.dir = text(L"C:\\Sites\\Quendal-V");
        p.startMenus[0] = text(L"C:\\Menu\\Korvane Quendal-V");
        p.adminShortcut = text(L"C:\\Tools\\Quendal-V Control Panel.lnk");
        return p;
    };
    const auto standard = places([](const wchar_t* t) { return std::wstring(t); });
    const auto own = places([](const wchar_t* t) { return WString(t); });
    for (const Row& row : rows) {
        CAPTURE(Test::Narrow(row.path));
        const std::wstring s = row.path;
        const WString w = row.path;
        CHECK(SiteScope::InFolder(standard, s) == row.inFolder);
        CHECK(SiteScope::InFolder(own, w) == row.inFolder);
        CHECK(SiteScope::IsShortcut(standard, s) == row.shortcut);
        CHECK(SiteScope::IsShortcut(own, w) == row.shortcut);
        CHECK(SiteScope::IsFolderToRemove(standard, s) == row.folderToRemove);
        CHECK(SiteScope::IsFolderToRemove(own, w) == row.folderToRemove);
    }
    CHECK(SiteScope::IsService(standard, std::wstring(L"quendal-v")));
    for (const wchar_t* key : {L"SOFTWARE\\Korvane\\Quendal-V", L"software\\korvane\\quendal-v\\Sub",
                               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quendal-V"}) {
        CAPTURE(Test::Narrow(key));
        CHECK(SiteScope::IsSiteKey(standard, std::wstring(key)));
        CHECK(SiteScope::IsSiteKey(own, WString(key)));
    }
    for (const wchar_t* key : {L"SOFTWARE\\Korvane", L"SOFTWARE\\Korvane\\Quendal-V2", L"SOFTWARE\\Korvane\\Quendal",
                               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}) {
        CAPTURE(Test::Narrow(key));
        CHECK_FALSE(SiteScope::IsSiteKey(standard, std::wstring(key)));
    }
    CHECK_FALSE(SiteScope::IsService(own, WString(L"Quendal")));
    // A site whose folder is not its own reaches no folder at all.
    auto refused = standard;
    refused.dir.clear();
    CHECK_FALSE(SiteScope::IsFolderToRemove(refused, std::wstring(L"C:\\Menu\\Korvane Quendal-V")));
    CHECK_FALSE(SiteScope::InFolder(refused, std::wstring(L"C:\\x")));
}
