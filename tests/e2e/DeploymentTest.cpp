// The recipes of docs/deployment.md, read from the document at run time and
// run as the tools they name would run them, each judged by that tool's own
// rule: PowerShell's switch on the exit code, Ansible's win_package (its
// creates_version against the file's four-part binary version, its
// expected_return_code), winget's manifest (its switches and return codes),
// Intune's and Configuration Manager's commands run as a service, their
// return-code tables and their detection rule. The document cannot say what
// the program does not do.
#include "../support/Machine.h"
#include "../support/Snapshot.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <map>
#include <string>
#include <vector>

using Test::ChildResult;

namespace {

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ReadAll(const std::wstring& path)
{
    std::string bytes = Test::ReadFileBytes(path);
    REQUIRE(!bytes.empty());
    return bytes;
}

std::string Trim(const std::string& s)
{
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") + 1 - first);
}

std::string Doc()
{
    return ReadAll(Test::Env(L"QUENDAL_DEPLOYMENT_DOC"));
}

// The part of the document under the heading "## <title>", up to the next one.
std::string Section(const std::string& title)
{
    const std::string doc = Doc();
    const std::size_t at = doc.find("\n## " + title + "\n");
    REQUIRE_MESSAGE(at != std::string::npos, title);
    const std::size_t end = doc.find("\n## ", at + 4);
    return doc.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The text of `text` after `prefix`, up to `end`.
std::string After(const std::string& text, const std::string& prefix, char end)
{
    const std::size_t at = text.find(prefix);
    REQUIRE_MESSAGE(at != std::string::npos, prefix);
    const std::size_t start = at + prefix.size();
    return text.substr(start, text.find(end, start) - start);
}

// The second cell of the table row whose first cell is `label`, without
// its backticks.
std::string Cell(const std::string& text, const std::string& label)
{
    std::string cell = After(text, "\n| " + label + " | ", '\n');
    cell = Trim(cell.substr(0, cell.find(" |"))); // up to the next cell
    if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`')
        cell = cell.substr(1, cell.size() - 2);
    return cell;
}

// The fenced blocks of `text` whose info string is `lang`.
std::vector<std::string> Blocks(const std::string& text, const std::string& lang)
{
    std::vector<std::string> blocks;
    const std::string open = "\n```" + lang + "\n";
    for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        const std::size_t start = at + open.size(), end = text.find("\n```", start - 1);
        REQUIRE(end != std::string::npos);
        blocks.push_back(text.substr(start, end + 1 - start));
        at = end + 4;
    }
    return blocks;
}

std::vector<std::string> Blocks(const std::string& lang)
{
    return Blocks(Doc(), lang);
}

// The value of a "key: value" line of a YAML block (the first of each key).
std::string YamlValue(const std::string& block, const std::string& key)
{
    std::size_t at = 0;
    while ((at = block.find(key + ":", at)) != std::string::npos) {
        const bool lineStart = at == 0 || block.find_first_not_of(" -", block.rfind('\n', at) + 1) == at;
        if (lineStart) {
            const std::size_t end = block.find('\n', at);
            std::string value = Trim(block.substr(at + key.size() + 1, end - at - key.size() - 1));
            if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
                value = value.substr(1, value.size() - 2);
            return value;
        }
        at += key.size();
    }
    return "(none)";
}

// A YAML list written [a, b] as numbers.
std::vector<DWORD> YamlCodes(const std::string& block, const std::string& key)
{
    std::string list = YamlValue(block, key);
    REQUIRE(list.size() >= 2);
    REQUIRE(list.front() == '[');
    std::vector<DWORD> codes;
    for (std::size_t at = 1; at < list.size() - 1;) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos)
            end = list.size() - 1;
        codes.push_back(static_cast<DWORD>(std::stoul(Trim(list.substr(at, end - at)))));
        at = end + 1;
    }
    return codes;
}

bool Listed(const std::vector<DWORD>& codes, DWORD code)
{
    for (DWORD c : codes)
        if (c == code)
            return true;
    return false;
}

std::wstring Value(const std::wstring& key, const wchar_t* name)
{
    return Test::RegString(HKEY_LOCAL_MACHINE, key, name);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The document speaks of the shipping installer on 64-bit Windows; the
// x86-64 build installs into the 64-bit Program Files.
std::wstring OnThisWindows(std::wstring path)
{
    const std::wstring x86 = L"C:\\Program Files (x86)";
    const std::wstring pf = Test::Env(L"ProgramFiles");
    // Searched on after each replacement: in a 32-bit process on 64-bit
    // Windows the replacement is the same text.
    for (std::size_t at = path.find(x86); at != std::wstring::npos; at = path.find(x86, at + pf.size()))
        path.replace(at, x86.size(), pf);
    return path;
}

// The installer under test, placed where the document has it.
void PlaceInstaller(const std::wstring& path)
{
    const std::wstring dir = path.substr(0, path.rfind(L'\\'));
    CreateDirectoryW(dir.c_str(), nullptr);
    REQUIRE(CopyFileW(Test::Env(L"QUENDAL_INSTALLER").c_str(), path.c_str(), FALSE));
}

ChildResult Run(const std::wstring& commandLine)
{
    CAPTURE(Test::Narrow(commandLine));
    return Test::RunCaptured(commandLine, 120000);
}

std::wstring Replaced(std::wstring command, const std::wstring& option, const std::wstring& by)
{
    const std::size_t at = command.find(L" " + option);
    REQUIRE(at != std::wstring::npos);
    return command.replace(at + 1, option.size(), by);
}

std::wstring Without(std::wstring command, const std::wstring& option)
{
    const std::size_t at = command.find(L" " + option);
    REQUIRE(at != std::wstring::npos);
    return command.erase(at, option.size() + 1);
}

// The log file a command names with -log= (the value's quotes removed).
std::wstring LogOf(const std::wstring& command)
{
    std::size_t at = command.find(L"-log=");
    REQUIRE(at != std::wstring::npos);
    at += 5;
    if (command[at] == L'"')
        return command.substr(at + 1, command.find(L'"', at + 1) - at - 1);
    return command.substr(at, command.find(L' ', at) - at);
}

// The log's last run ended with `code`; its lines are the run's.
void CheckLogEnds(const std::wstring& log, DWORD code)
{
    const std::string text = Test::ReadFileBytes(log);
    CAPTURE(Test::Narrow(log));
    const std::string last = " Exit code " + std::to_string(code) + "\r\n";
    REQUIRE(text.size() > last.size());
    CHECK(text.substr(text.size() - last.size()) == last);
}

// A file of the installation held open, as a program that is not Quendal's
// (an event viewer, a backup agent) holds one: the upgrade then needs a restart.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        REQUIRE(handle_ != INVALID_HANDLE_VALUE);
    }
    ~HeldFile() { Release(); }
    void Release()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// The file's binary version (VS_FIXEDFILEINFO) as four parts, as Ansible's
// win_package compares it with creates_version; "(none)" without one.
std::string FixedFileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size)
        return "(none)";
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || len < sizeof(*info))
        return "(none)";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

// Gives an installed program the binary version of an older release, as the
// previous version's file would have.
void MakeOlder(const std::wstring& path, WORD major, WORD minor)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    REQUIRE(size > 0);
    std::vector<BYTE> data(size);
    REQUIRE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    REQUIRE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len));
    info->dwFileVersionMS = MAKELONG(minor, major);
    info->dwFileVersionLS = 0;
    // The resource is as long as its VS_VERSIONINFO header says; the rest of
    // the buffer is the function's own.
    const WORD length = *reinterpret_cast<WORD*>(data.data());
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    REQUIRE(update != nullptr);
    CHECK(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                          MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), data.data(), length));
    REQUIRE(EndUpdateResourceW(update, FALSE));
}

// Stops the service and waits for its process to end: a service reports
// SERVICE_STOPPED before its process exits, and its program file stays in
// use until then.
void StopService(const wchar_t* name)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    REQUIRE(scm != nullptr);
    SC_HANDLE svc = OpenServiceW(scm, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS running = {};
    DWORD needed = 0;
    HANDLE process = nullptr;
    if (svc && QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running), sizeof(running),
                                    &needed) &&
        running.dwProcessId)
        process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
    SERVICE_STATUS status = {};
    if (svc && ControlService(svc, SERVICE_CONTROL_STOP, &status))
        CHECK(Test::WaitForServiceState(name, SERVICE_STOPPED));
    if (process) {
        CHECK(WaitForSingleObject(process, 15000) == WAIT_OBJECT_0);
        CloseHandle(process);
    }
    if (svc)
        CloseServiceHandle(svc);
    CloseServiceHandle(scm);
}

// The one command of a PowerShell block: -FilePath 'exe' -ArgumentList 'a',
// 'b' ... -Wait -PassThru. PowerShell joins the items with spaces into the
// command line after the quoted program.
std::wstring StartProcessCommand(const std::string& block)
{
    const std::size_t at = block.find("Start-Process -FilePath '");
    REQUIRE(at != std::string::npos);
    const std::size_t fileStart = at + 25, fileEnd = block.find('\'', fileStart);
    const std::wstring file = Test::Widen(block.substr(fileStart, fileEnd - fileStart));
    const std::size_t listAt = block.find("-ArgumentList ", fileEnd);
    REQUIRE(listAt != std::string::npos);
    std::wstring command = L"\"" + file + L"\"";
    std::size_t item = listAt + 14;
    while (block[item] == '\'') {
        const std::size_t end = block.find('\'', item + 1);
        command += L" " + Test::Widen(block.substr(item + 1, end - item - 1));
        item = end + 1;
        if (block.compare(item, 2, ", ") != 0)
            break;
        item += 2;
    }
    REQUIRE(block.compare(item, 16, " -Wait -PassThru") == 0);
    return command;
}

// What the script's switch makes of the installer's exit code: the arm for
// that code, else the default arm; its "exit N" (N may be the code itself).
DWORD ScriptExit(const std::string& block, DWORD installerCode)
{
    std::size_t arm = block.find("\n    " + std::to_string(installerCode) + " ");
    if (arm == std::string::npos)
        arm = block.find("\n    default ");
    REQUIRE(arm != std::string::npos);
    const std::string line = block.substr(arm + 1, block.find('\n', arm + 1) - arm - 1);
    CAPTURE(line);
    const std::string exit = Trim(After(line, "; exit ", '}'));
    return exit == "$run.ExitCode" ? installerCode : static_cast<DWORD>(std::stoul(exit));
}

// A service that runs one command as LocalSystem, from a folder, as the
// agents of software-distribution systems do (tests/support/ServiceLauncher.cpp).
struct ServiceRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string user;
};

ServiceRun RunAsService(const std::wstring& folder, const std::wstring& command)
{
    CAPTURE(Test::Narrow(command));
    Test::TempDir jobs(L"quendal-service-job");
    const std::wstring job = jobs.Path() + L"\\job.txt";
    Test::WriteTextFile(job, Test::Narrow(folder + L"\n" + command));
    const std::wstring launcher = L"\"" + Test::OwnDirectory() + L"\\service_launcher.exe\" \"" + job + L"\"";
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    REQUIRE(scm != nullptr);
    // LocalSystem: no account named.
    SC_HANDLE svc = CreateServiceW(scm, L"QuendalTestLauncher", L"Quendal test launcher", SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                   launcher.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(svc != nullptr);
    ServiceRun run;
    if (StartServiceW(svc, 0, nullptr)) {
        // Read until it reads whole: just after its rename the launcher still
        // holds the file open for deletion, and an open without
        // FILE_SHARE_DELETE is refused then.
        const std::wstring result = job + L".result";
        std::string text;
        for (int i = 0; i < 1800; ++i) {
            text = Test::ReadFileBytes(result);
            if (text.rfind("exit=", 0) == 0 && text.find("\nuser=") != std::string::npos && text.back() == '\n')
                break;
            Sleep(100);
        }
        CAPTURE(text);
        if (text.rfind("exit=", 0) == 0) {
            run.exitCode = static_cast<DWORD>(std::stoul(text.substr(5)));
            run.user = Trim(After(text, "user=", '\n'));
        }
        SERVICE_STATUS status = {};
        for (int i = 0; i < 100 && QueryServiceStatus(svc, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
    } else {
        FAIL_CHECK("the launcher service did not start: error " << GetLastError());
    }
    DeleteService(svc);
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return run;
}

// The code type a return-code table gives a code; "(failure)" for a code it
// does not list.
std::string CodeType(const std::string& section, DWORD code)
{
    const std::string row = "\n| " + std::to_string(code) + " | ";
    return section.find(row) == std::string::npos ? "(failure)" : Cell(section, std::to_string(code));
}

// The detection rule of the document's table, as a distribution system
// evaluates it: the key's value, compared as a version, part by part.
bool Detected(const std::string& rules)
{
    const std::wstring key = Test::Widen(After(rules, "| key | `HKEY_LOCAL_MACHINE\\", '`'));
    REQUIRE(Cell(rules, "value") == "DisplayVersion");
    const std::string minimum = After(rules, "greater than or equal to `", '`');
    const std::wstring found = Value(key, L"DisplayVersion");
    if (found == L"(none)")
        return false;
    auto parts = [](const std::string& v) {
        std::vector<unsigned> p;
        for (std::size_t at = 0; at <= v.size();) {
            std::size_t dot = v.find('.', at);
            if (dot == std::string::npos)
                dot = v.size();
            p.push_back(static_cast<unsigned>(std::stoul(v.substr(at, dot - at))));
            at = dot + 1;
        }
        p.resize(4);
        return p;
    };
    return parts(Test::Narrow(found)) >= parts(minimum);
}

std::wstring StartMenuOf(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return std::wstring(path) + L"\\Korvane Quendal";
}

} // namespace

TEST_CASE("deployment: PowerShell's scripts install, pass a 300 on as 3010, and never restart by themselves")
{
    std::vector<std::string> scripts;
    for (const std::string& block : Blocks("powershell"))
        if (block.find("Start-Process -FilePath '") != std::string::npos)
            scripts.push_back(block);
    REQUIRE(scripts.size() == 2);
    for (const std::string& script : scripts) {
        CAPTURE(script);
        CHECK(script.find("Restart-Computer") == std::string::npos);
        const std::wstring command = StartProcessCommand(script);
        PlaceInstaller(command.substr(1, command.find(L'"', 1) - 1));
        const std::wstring log = LogOf(command);

        // Nothing changes without the agreement; the script passes 140 on.
        Test::Snapshot before = Test::Snapshot::Take();
        ChildResult refused = Run(Without(command, L"-acceptEULA"));
        CHECK(refused.exitCode == 140);
        CHECK(ScriptExit(script, refused.exitCode) == 140);
        CheckLogEnds(log, 140);
        CHECK(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry, L"file:" + log}).empty());

        ChildResult first = Run(command);
        CHECK(first.exitCode == 0);
        CHECK(ScriptExit(script, first.exitCode) == 0);
        CHECK(first.text.find(L"installation completed.\r\n") != std::wstring::npos);
        CheckLogEnds(log, 0);
        // The log holds what the console showed.
        CHECK(Test::ReadFileBytes(log).find(first.output) != std::string::npos);
    }
    CHECK(Value(kUninstall + L"Quendal", L"DisplayVersion") == L"5.18");
    CHECK(Test::ServiceState(L"Quendal") == SERVICE_RUNNING);
    CHECK(Value(kUninstall + L"Quendal-Web", L"InstallDir") == L"C:\\Korvane Sites\\Quendal-Web");

    // The same script on the installed site, a file held open: the restart
    // is left to the tool (3010), and the script run again after it finishes.
    const std::wstring command = StartProcessCommand(scripts[0]);
    const std::wstring dir = Value(kUninstall + L"Quendal", L"InstallDir");
    HeldFile held(dir + L"\\ReadMe.txt");
    ChildResult blocked = Run(command);
    held.Release();
    CHECK(blocked.exitCode == 300);
    CHECK(ScriptExit(scripts[0], blocked.exitCode) == 3010);
    Test::RestartWine();
    ChildResult resumed = Run(command);
    CHECK(resumed.exitCode == 0);
    CHECK(ScriptExit(scripts[0], resumed.exitCode) == 0);
    CHECK(Test::WaitForServiceState(L"Quendal", SERVICE_RUNNING));
}

TEST_CASE("deployment: the configuration-management play installs once, upgrades through 300 and a restart, removes")
{
    std::vector<std::string> tasks;
    for (const std::string& block : Blocks("yaml"))
        if (block.find("win_package:") != std::string::npos)
            tasks.push_back(block);
    REQUIRE(tasks.size() == 2);
    const std::string& play = tasks[0];
    const std::size_t secondAt = play.find("- name: Run the same installation again");
    REQUIRE(secondAt != std::string::npos);
    const std::string install = play.substr(0, secondAt), again = play.substr(secondAt);
    const std::wstring path = Test::Widen(YamlValue(install, "path"));
    const std::wstring command = L"\"" + path + L"\" " + Test::Widen(YamlValue(install, "arguments"));
    const std::wstring createsPath = OnThisWindows(Test::Widen(YamlValue(install, "creates_path")));
    const std::string createsVersion = YamlValue(install, "creates_version");
    const std::vector<DWORD> expected = YamlCodes(install, "expected_return_code");
    CHECK(YamlValue(again, "path") == YamlValue(install, "path"));
    CHECK(YamlValue(again, "arguments") == YamlValue(install, "arguments"));
    CHECK(YamlValue(again, "creates_path") == "(none)");
    CHECK(YamlValue(again, "creates_version") == "(none)");
    const std::vector<DWORD> expectedAgain = YamlCodes(again, "expected_return_code");
    CHECK(play.find("when: quendal.rc is defined and quendal.rc == 300") != std::string::npos);
    PlaceInstaller(path);

    // win_package: the task is skipped when the file is there with that
    // version; otherwise it runs the command, and a code it does not expect fails it.
    auto upToDate = [&]() { return Exists(createsPath) && FixedFileVersion(createsPath) == createsVersion; };
    auto task = [&](const std::wstring& line, const std::vector<DWORD>& codes) {
        ChildResult r = Run(line);
        CHECK(Listed(codes, r.exitCode));
        return r.exitCode;
    };

    REQUIRE_FALSE(upToDate());
    CHECK(task(command, expected) == 0);
    CHECK(Test::ServiceState(L"Quendal") == SERVICE_RUNNING);
    CHECK(FixedFileVersion(createsPath) == createsVersion);
    // The play again: nothing to do, the service is left running.
    CHECK(upToDate());

    // An older version installed, a file of it held open: the task runs,
    // gets 300, the play restarts the computer and runs the installation again.
    const std::wstring dir = Value(kUninstall + L"Quendal", L"InstallDir");
    StopService(L"Quendal"); // its program file is the one to change
    MakeOlder(createsPath, 5, 17);
    CHECK(FixedFileVersion(createsPath) == "5.17.0.0");
    // The entry of an older version says so, as the detection rule reads it.
    const std::wstring older = L"5.17";
    REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kUninstall + L"Quendal").c_str(), L"DisplayVersion", REG_SZ,
                            older.c_str(), static_cast<DWORD>((older.size() + 1) * sizeof(wchar_t))) == 0);
    REQUIRE_FALSE(upToDate());
    HeldFile held(dir + L"\\ReadMe.txt");
    const DWORD rc = task(command, expected);
    held.Release();
    CHECK(rc == 300);
    // The older version is back until the second run: a distribution
    // system's detection rule sends it to run the command again after the
    // restart.
    CHECK_FALSE(Detected(Section("Detecting the installed version")));
    CHECK(Value(kUninstall + L"Quendal", L"DisplayVersion") == older);
    Test::RestartWine();
    CHECK(task(command, expectedAgain) == 0);
    CHECK(upToDate());
    CHECK(Test::WaitForServiceState(L"Quendal", SERVICE_RUNNING));
    CheckLogEnds(LogOf(command), 0);

    // state: absent: the entry product_id names, its QuietUninstallString,
    // 0 and 3010 taken as success.
    const std::string& removal = tasks[1];
    CHECK(YamlValue(removal, "state") == "absent");
    const std::wstring entry = kUninstall + Test::Widen(YamlValue(removal, "product_id"));
    REQUIRE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    const ChildResult removed = Run(Value(entry, L"QuietUninstallString"));
    CHECK(Listed({0, 3010}, removed.exitCode));
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    CHECK_FALSE(Exists(createsPath));
    CHECK(Test::ServiceState(L"Quendal") == 0);
}

TEST_CASE("deployment: the winget manifest's silent install with its log switch, its return codes, its removal")
{
    std::string manifest;
    for (const std::string& block : Blocks("yaml"))
        if (block.find("ManifestType: installer") != std::string::npos)
            manifest = block;
    REQUIRE(!manifest.empty());
    const std::wstring silent = Test::Widen(YamlValue(manifest, "Silent"));
    CHECK(YamlValue(manifest, "SilentWithProgress") == YamlValue(manifest, "Silent"));
    std::wstring logSwitch = Test::Widen(YamlValue(manifest, "Log"));
    Test::TempDir logs(L"winget logs");
    const std::wstring log = logs.Path() + L"\\Korvane.Quendal install.log";
    REQUIRE(logSwitch.find(L"<LOGPATH>") != std::wstring::npos);
    logSwitch.replace(logSwitch.find(L"<LOGPATH>"), 9, log);
    const std::string url = YamlValue(manifest, "InstallerUrl");
    const std::wstring installer = L"C:\\Deploy\\" + Test::Widen(url.substr(url.rfind('/') + 1));
    // winget: the installer, the mode's switches, then the log switch.
    const std::wstring command = L"\"" + installer + L"\" " + silent + L" " + logSwitch;
    PlaceInstaller(installer);
    Test::Snapshot before = Test::Snapshot::Take();

    // The codes winget maps, as the installer gives them.
    auto response = [&manifest](DWORD code) {
        const std::string at = "- InstallerReturnCode: " + std::to_string(code) + "\n";
        const std::size_t found = manifest.find(at);
        return found == std::string::npos ? std::string("(none)") : YamlValue(manifest.substr(found + at.size()), "ReturnResponse");
    };
    CHECK(response(300) == "rebootRequiredForInstall");
    CHECK(response(204) == "installInProgress");
    CHECK(response(130) == "systemNotSupported");
    CHECK(response(0) == "(none)");
    CHECK(manifest.find("InstallerSuccessCodes") == std::string::npos);
    ChildResult refused = Run(Without(command, L"-acceptEULA"));
    CHECK(refused.exitCode == 140);
    CHECK(response(refused.exitCode) == "invalidParameter");
    CheckLogEnds(log, 140);
    ChildResult bad = Run(Replaced(command, L"-site=Quendal", L"-site=Quendal-a:b"));
    CHECK(bad.exitCode == 201);
    CHECK(response(bad.exitCode) == "invalidParameter");
    CHECK(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry, L"file:" + log}).empty());

    CHECK(Run(command).exitCode == 0);
    CheckLogEnds(log, 0);

    // How it finds the installation: the entry's own values.
    const std::wstring site = Test::Widen(YamlValue(manifest, "ProductCode"));
    const std::wstring entry = kUninstall + site;
    CHECK(Value(entry, L"DisplayName") == Test::Widen(YamlValue(manifest, "DisplayName")));
    CHECK(Value(entry, L"Publisher") == Test::Widen(YamlValue(manifest, "Publisher")));
    CHECK(Test::Widen(YamlValue(manifest, "PackageVersion")) == Value(entry, L"DisplayVersion"));

    // How it removes it: the quiet command the text names, which is the
    // entry's; the exit code says the removal is done.
    const std::string removing = Section("Removing it");
    std::string quiet = After(removing, "`QuietUninstallString` removes the site without asking\nanyone, `", '`');
    const std::wstring quietCommand = OnThisWindows(Test::Widen(quiet));
    CHECK(Test::Narrow(Value(entry, L"QuietUninstallString")) == Test::Narrow(quietCommand));
    const std::wstring dir = Value(entry, L"InstallDir");
    ChildResult removal = Run(Value(entry, L"QuietUninstallString"));
    CHECK(removal.exitCode == 0);
    CHECK(Cell(removing, std::to_string(removal.exitCode)) == "removed");
    std::vector<std::wstring> kept = Test::KeptAfterRemoval(dir, site);
    kept.push_back(L"file:" + log);
    CHECK(Test::Snapshot::Take().Differences(before, kept).empty());
}

TEST_CASE("deployment: run by a service, as Intune and Configuration Manager run it, and judged by their tables")
{
    const std::string rules = Section("Detecting the installed version");
    for (const std::string& title : {std::string("Microsoft Intune (Win32 app)"),
                                     std::string("Microsoft Configuration Manager (application, script installer)")}) {
        CAPTURE(title);
        const std::string section = Section(title);
        const bool intune = title.find("Intune") != std::string::npos;
        const std::wstring installCommand =
            Test::Widen(Cell(section, intune ? "Install command" : "Installation program"));
        const std::wstring uninstallCommand =
            OnThisWindows(Test::Widen(Cell(section, intune ? "Uninstall command" : "Uninstall program")));
        const std::string success = "Success", softReboot = intune ? "Soft reboot" : "Soft Reboot";
        const std::string retry = intune ? "Retry" : "Fast Retry";
        CHECK(CodeType(section, 300) == softReboot);
        CHECK(CodeType(section, 204) == retry);
        CHECK(CodeType(section, 3010) == softReboot);
        CHECK(CodeType(section, 140) == "(failure)");

        // The content folder: the installer alone, the agent's current folder.
        Test::TempDir content(L"quendal-content");
        PlaceInstaller(content.Path() + L"\\QuendalInstaller.exe");
        CHECK_FALSE(Detected(rules));
        const ServiceRun installed = RunAsService(content.Path(), installCommand);
        CHECK(installed.exitCode == 0);
        CHECK(CodeType(section, installed.exitCode) == success);
        CHECK(Detected(rules));
        CHECK(Test::WaitForServiceState(L"Quendal", SERVICE_RUNNING));
        // No console: the log holds the run.
        const std::wstring log = LogOf(installCommand);
        CHECK(Test::ReadFileBytes(log).find("Korvane Quendal 5.18 installation completed.\r\n") != std::string::npos);
        CheckLogEnds(log, 0);

        // The shortcuts: all users' for LocalSystem. Under Wine a service
        // runs with the one user's token, and the user's folder is right for it.
        const bool system = installed.user == "S-1-5-18";
        if (!system)
            MESSAGE("the service ran as " << installed.user << ", not LocalSystem (Wine): the user's Start menu");
        const std::wstring menu = StartMenuOf(system ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
        const std::wstring other = StartMenuOf(system ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS);
        CHECK(Exists(menu + L"\\Uninstall Quendal.lnk"));
        CHECK_FALSE(Exists(other));

        const ServiceRun removed = RunAsService(content.Path(), uninstallCommand);
        CHECK(removed.exitCode == 0);
        CHECK(CodeType(section, removed.exitCode) == success);
        CHECK_FALSE(Detected(rules));
        CHECK_FALSE(Exists(menu));
        CheckLogEnds(LogOf(uninstallCommand), 0);
        DeleteFileW(log.c_str());
        DeleteFileW(LogOf(uninstallCommand).c_str());
    }
}

TEST_CASE("deployment: the detection rule and its reg query find nothing before, the version after; the removal command")
{
    const std::string rules = Section("Detecting the installed version");
    const std::vector<std::string> blocks = Blocks("cmd");
    std::wstring query, removal;
    for (const std::string& block : blocks) {
        if (block.rfind("reg query ", 0) == 0)
            query = Test::Widen(Trim(block));
        if (block.find("uninst.exe") != std::string::npos)
            removal = OnThisWindows(Test::Widen(Trim(block)));
    }
    REQUIRE(!query.empty());
    REQUIRE(!removal.empty());
    // The x86-64 build's entry is in the 64-bit view, as the text says.
    if (sizeof(void*) == 8) {
        REQUIRE(rules.find("the same query takes\n`/reg:64`") != std::string::npos);
        query.replace(query.find(L"/reg:32"), 7, L"/reg:64");
    }

    // Wine's reg.exe does not know /reg:32 and /reg:64; a reg.exe of the
    // view's width (this program's) reads that view without the switch.
    auto runQuery = [&query]() {
        ChildResult r = Run(query);
        if (r.exitCode != 0 && r.text.find(L"Invalid syntax") != std::wstring::npos) {
            MESSAGE("this reg.exe refuses the view switch: run without it, at the view's width");
            std::wstring same = query;
            same.erase(same.find(sizeof(void*) == 8 ? L" /reg:64" : L" /reg:32"), 8);
            r = Run(same);
        }
        CAPTURE(Test::Narrow(r.text));
        CHECK(r.text.find(L"Invalid syntax") == std::wstring::npos);
        return r;
    };
    CHECK(runQuery().exitCode == 1);
    CHECK_FALSE(Detected(rules));

    PlaceInstaller(L"C:\\Deploy\\QuendalInstaller.exe");
    REQUIRE(Run(L"\"C:\\Deploy\\QuendalInstaller.exe\" -site=Quendal -acceptEULA").exitCode == 0);
    ChildResult found = runQuery();
    CAPTURE(Test::Narrow(found.text));
    CHECK(found.exitCode == 0);
    CHECK(found.text.find(L"DisplayVersion    REG_SZ    5.18") != std::wstring::npos);
    CHECK(Detected(rules));

    // The page's removal command: done when it ends, its log with it.
    ChildResult removed = Run(removal);
    CHECK(removed.exitCode == 0);
    CheckLogEnds(LogOf(removal), 0);
    CHECK(runQuery().exitCode == 1);
    CHECK_FALSE(Detected(rules));
}
