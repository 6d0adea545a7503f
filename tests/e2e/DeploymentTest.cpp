// The command lines of docs/deployment.md, read from the document at run time
// and run as the tools it names would run them (PowerShell, a
// configuration-management module, a package manager, a detection rule): the
// document cannot say what the program does not do.
#include "../support/Machine.h"
#include "../support/Snapshot.h"
#include <doctest/doctest.h>
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

// The text of the document after `prefix`, up to `end`.
std::string After(const std::string& doc, const std::string& prefix, char end)
{
    const std::size_t at = doc.find(prefix);
    REQUIRE_MESSAGE(at != std::string::npos, prefix);
    const std::size_t start = at + prefix.size();
    return doc.substr(start, doc.find(end, start) - start);
}

// The fenced blocks of the document whose info string is `lang`.
std::vector<std::string> Blocks(const std::string& lang)
{
    const std::string doc = Doc();
    std::vector<std::string> blocks;
    const std::string open = "\n```" + lang + "\n";
    for (std::size_t at = doc.find(open); at != std::string::npos; at = doc.find(open, at)) {
        const std::size_t start = at + open.size(), end = doc.find("\n```", start - 1);
        REQUIRE(end != std::string::npos);
        blocks.push_back(doc.substr(start, end + 1 - start));
        at = end + 4;
    }
    return blocks;
}

// The value of each "key: value" line of a YAML block (the first of each key).
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

std::wstring Value(const std::wstring& key, const wchar_t* name)
{
    return Test::RegString(HKEY_LOCAL_MACHINE, key, name);
}

// The document speaks of the shipping installer on 64-bit Windows; the
// x86-64 build installs into the 64-bit Program Files.
std::wstring OnThisWindows(std::wstring path)
{
    const std::wstring x86 = L"C:\\Program Files (x86)";
    const std::wstring pf = Test::Env(L"ProgramFiles");
    if (path.compare(0, x86.size(), x86) == 0)
        path = pf + path.substr(x86.size());
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


} // namespace

TEST_CASE("deployment: PowerShell's Start-Process lines install, again, and a missing -acceptEULA is 140")
{
    const std::vector<std::string> blocks = Blocks("powershell");
    REQUIRE(blocks.size() >= 2);
    int lines = 0;
    for (const std::string& block : blocks) {
        const std::size_t at = block.find("Start-Process -FilePath '");
        if (at == std::string::npos)
            continue;
        ++lines;
        // -FilePath 'exe' -ArgumentList 'a', 'b' ...: PowerShell joins the
        // items with spaces into the command line after the quoted program.
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
        PlaceInstaller(file);

        // Nothing changes without the agreement: the switch's 140.
        Test::Snapshot before = Test::Snapshot::Take();
        REQUIRE(block.find("    140 ") != std::string::npos);
        CHECK(Run(Without(command, L"-acceptEULA")).exitCode == 140);
        CHECK(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry}).empty());

        ChildResult first = Run(command);
        CHECK(first.exitCode == 0);
        CHECK(first.text.find(L"Korvane Quendal 5.18 installation completed.\r\n") != std::wstring::npos);
        // The same script again: the site is reinstalled, the code is 0 again.
        CHECK(Run(command).exitCode == 0);
    }
    CHECK(lines == 2);
    // What the two lines installed: the default site, its service started,
    // and a named site in a folder with spaces.
    CHECK(Value(kUninstall + L"Quendal", L"DisplayVersion") == L"5.18");
    CHECK(Test::ServiceState(L"Quendal") == SERVICE_RUNNING);
    CHECK(Value(kUninstall + L"Quendal-Web", L"InstallDir") == L"C:\\Korvane Sites\\Quendal-Web");
}

TEST_CASE("deployment: the configuration-management tasks install, find the entry and the version they name")
{
    std::vector<std::string> tasks;
    for (const std::string& block : Blocks("yaml"))
        if (block.find("win_package:") != std::string::npos)
            tasks.push_back(block);
    REQUIRE(tasks.size() == 1);
    const std::string& block = tasks[0];
    const std::wstring path = Test::Widen(YamlValue(block, "path"));
    const std::wstring command = L"\"" + path + L"\" " + Test::Widen(YamlValue(block, "arguments"));
    const std::wstring productId = Test::Widen(YamlValue(block, "product_id"));
    CHECK(YamlValue(block, "expected_return_code") == "[0, 300]");
    PlaceInstaller(path);

    // The module skips the task when the entry named by product_id exists.
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + productId));
    CHECK(Run(command).exitCode == 0);
    CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, kUninstall + productId));
    CHECK(Test::ServiceState(productId.c_str()) == SERVICE_RUNNING);

    // The task after a restart runs the same command; it installs again.
    const std::size_t second = block.find("- name: Run the same installation again");
    REQUIRE(second != std::string::npos);
    const std::string again = block.substr(second);
    CHECK(YamlValue(again, "path") == YamlValue(block, "path"));
    CHECK(YamlValue(again, "arguments") == YamlValue(block, "arguments"));
    CHECK(Run(command).exitCode == 0);

    // The upgrade detection the text gives: the program's version resource.
    const std::string doc = Doc();
    const std::string createsPath = After(doc, "`creates_path: ", '`');
    const std::string createsVersion = After(doc, "`creates_version: '", '\'');
    CHECK(Test::Narrow(Test::VersionValue(OnThisWindows(Test::Widen(createsPath)), L"FileVersion")) == createsVersion);
}

TEST_CASE("deployment: the package manifest's silent install gives the entry it expects, and its quiet removal")
{
    const std::vector<std::string> blocks = Blocks("yaml");
    std::string manifest;
    for (const std::string& block : blocks)
        if (block.find("InstallerSwitches:") != std::string::npos)
            manifest = block;
    REQUIRE(!manifest.empty());
    const std::wstring silent = Test::Widen(YamlValue(manifest, "Silent"));
    CHECK(YamlValue(manifest, "SilentWithProgress") == YamlValue(manifest, "Silent"));
    const std::string url = YamlValue(manifest, "InstallerUrl");
    const std::wstring installer = L"C:\\Deploy\\" + Test::Widen(url.substr(url.rfind('/') + 1));
    const std::wstring command = L"\"" + installer + L"\" " + silent;
    PlaceInstaller(installer);
    Test::Snapshot before = Test::Snapshot::Take();

    // The return codes it expects, as the installer gives them.
    const std::string codes = manifest.substr(manifest.find("ExpectedReturnCodes:"));
    for (const char* code : {"InstallerReturnCode: 140", "InstallerReturnCode: 201", "InstallerReturnCode: 300"})
        CHECK(codes.find(code) != std::string::npos);
    CHECK(Run(Without(command, L"-acceptEULA")).exitCode == 140);
    CHECK(Run(Replaced(command, L"-site=Quendal", L"-site=Quendal-a:b")).exitCode == 201);
    CHECK(Test::Snapshot::Take().Differences(before, {Test::kMakerKeyEntry}).empty());

    CHECK(manifest.find("InstallerSuccessCodes:\n  - 0\n") != std::string::npos);
    CHECK(Run(command).exitCode == 0);

    // How it finds the installation: the entry's own values.
    const std::wstring site = Test::Widen(YamlValue(manifest, "ProductCode"));
    const std::wstring entry = kUninstall + site;
    CHECK(Value(entry, L"DisplayName") == Test::Widen(YamlValue(manifest, "DisplayName")));
    CHECK(Value(entry, L"Publisher") == Test::Widen(YamlValue(manifest, "Publisher")));
    CHECK(Value(entry, L"DisplayVersion") == Test::Widen(YamlValue(manifest, "DisplayVersion")));
    CHECK(Test::Widen(YamlValue(manifest, "PackageVersion")) == Value(entry, L"DisplayVersion"));

    // How it removes it: the quiet command the text names, which is the entry's.
    const std::string doc = Doc();
    std::string quiet = After(doc, "`QuietUninstallString`, `", '`');
    for (std::size_t nl; (nl = quiet.find('\n')) != std::string::npos;)
        quiet.replace(nl, 1, " ");
    const std::wstring quietCommand = OnThisWindows(Test::Widen(quiet.substr(1)));
    CHECK(Test::Narrow(Value(entry, L"QuietUninstallString")) == Test::Narrow(L"\"" + quietCommand));
    const std::wstring dir = Value(entry, L"InstallDir");
    ChildResult removal = Run(Value(entry, L"QuietUninstallString"));
    CHECK(removal.exitCode == 1); // the uninstaller goes on as a copy of itself
    for (int i = 0; i < 200 && Test::KeyExists(HKEY_LOCAL_MACHINE, entry); ++i)
        Sleep(100);
    Sleep(500);
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, entry));
    std::vector<std::wstring> left = Test::Snapshot::Take().Differences(before, Test::KeptAfterRemoval(dir, site));
    CHECK(left.empty());
}

TEST_CASE("deployment: the detection rule and its reg query find nothing before, the version after")
{
    const std::string doc = Doc();
    const std::vector<std::string> blocks = Blocks("cmd");
    std::wstring query;
    for (const std::string& block : blocks)
        if (block.rfind("reg query ", 0) == 0)
            query = Test::Widen(Trim(block));
    REQUIRE(!query.empty());
    // The x86-64 build's entry is in the 64-bit view, as the text says.
    if (sizeof(void*) == 8) {
        REQUIRE(doc.find("the same query takes\n`/reg:64`") != std::string::npos);
        query.replace(query.find(L"/reg:32"), 7, L"/reg:64");
    }
    // The rule's key and value, as the table gives them.
    const std::wstring key = Test::Widen(After(doc, "| key | `HKEY_LOCAL_MACHINE\\", '`'));
    CHECK(doc.find("| value | `DisplayVersion` |") != std::string::npos);
    const std::wstring minimum = Test::Widen(After(doc, "greater than or equal to `", '`'));

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
    CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, key));

    PlaceInstaller(L"C:\\Deploy\\QuendalInstaller.exe");
    REQUIRE(Run(L"\"C:\\Deploy\\QuendalInstaller.exe\" -site=Quendal -acceptEULA").exitCode == 0);
    ChildResult found = runQuery();
    CAPTURE(Test::Narrow(found.text));
    CHECK(found.exitCode == 0);
    CHECK(found.text.find(L"DisplayVersion    REG_SZ    5.18") != std::wstring::npos);
    CHECK(Value(key, L"DisplayVersion") == minimum);
}
