// The real QuendalInstaller.exe, started as a child: its console text through
// a pipe, its exit codes, and its message boxes.
#include "../../upgrade/InstalledSites.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <cstdio>
#include <string>
#include <vector>

using Test::ChildResult;

namespace {

std::wstring Installer()
{
    std::wstring path = Test::Env(L"QUENDAL_INSTALLER");
    REQUIRE_MESSAGE(!path.empty(), "QUENDAL_INSTALLER names the installer under test");
    return path;
}

ChildResult Run(const std::wstring& args)
{
    return Test::RunCaptured(L"\"" + Installer() + L"\" " + args);
}

// The usage text as the installer writes it into a pipe.
const std::string kUsage =
    "This program will install Korvane Quendal 5.18\r\n"
    "on the machine it is being run on.\r\n"
    "\r\n"
    "Quendal is an SSH2 server for Windows 2000/XP/2003/Vista/2008/7.\r\n"
    "\r\n"
    "This program must be run by a user with administrator privileges. If run\r\n"
    "without command line options, installation will be performed in interactive\r\n"
    "mode. If run with command line options, installation will be performed in\r\n"
    "unattended mode.\r\n"
    "\r\n"
    "Usage (unattended mode only):\r\n"
    " QuendalInstaller -installDir=directory OR -site=site-name\r\n"
    "                  [-acceptEULA] [-force] [-noRollback]\r\n"
    "                  [-settings=settings-file]\r\n"
    "                  [-startService]\r\n"
    "                  [-log=log-file]\r\n"
    "\r\n"
    " site-name: \"Quendal\" for the default site\r\n"
    "            \"Quendal-<name>\" for a named site\r\n"
    "\r\n"
    "IMPORTANT: Applications like the Windows Event Viewer can lock Quendal files\r\n"
    "that need to be replaced during an upgrade. If the installer cannot replace\r\n"
    "files because they are locked, it will return with exit code 300. This exit\r\n"
    "code indicates that the installer must be run again using the same parameters\r\n"
    "after the computer has been restarted, or after ALL programs that had locked\r\n"
    "Quendal files, in any logon session, have been closed.\r\n";

TEST_CASE("help: the usage text and 200, whatever else is given")
{
    for (const wchar_t* args : {L"-help", L"/?", L"-h -installDir=C:\\Q -force=yes", L"/HELP foo"}) {
        CAPTURE(Test::Narrow(args));
        ChildResult r = Run(args);
        CHECK(r.exitCode == 200);
        CHECK(r.output == kUsage + "\r\n");
    }
}

TEST_CASE("command-line errors: the message, a blank line, the usage text and 201")
{
    SUBCASE("a missing directory")
    {
        ChildResult r = Run(L"-acceptEULA");
        CHECK(r.exitCode == 201);
        CHECK(r.output == "Missing '-installDir' or '-site' parameter.\r\n\r\n" + kUsage + "\r\n");
    }
    SUBCASE("-interactive alone needs a directory too")
    {
        CHECK(Run(L"-interactive").exitCode == 201);
    }
    SUBCASE("mismatching directory and site")
    {
        ChildResult r = Run(L"-installDir=C:\\A\\B -site=Quendal-Test -acceptEULA");
        CHECK(r.exitCode == 201);
        CHECK(r.output.rfind("Mismatching '-installDir' and '-site' parameters.\r\n\r\nThis program", 0) == 0);
    }
    SUBCASE("a site name that is not a folder name, and a target no installation may take")
    {
        struct Refused {
            const wchar_t* args;
            const char* message;
        };
        const Refused refused[] = {
            {L"-site=Quendal-..\\..\\Windows -acceptEULA",
             "Invalid '-site' parameter: 'Quendal-..\\..\\Windows' is not 'Quendal' or 'Quendal-' followed by a folder "
             "name."},
            {L"-site=Other -acceptEULA", "Invalid '-site' parameter: 'Other' is not 'Quendal' or 'Quendal-' followed "
                                         "by a folder name."},
            {L"-installDir=C:\\ -acceptEULA", "Refusing to install into 'C:\\': it is the root of a drive."},
            {L"-installDir=C:\\windows\\system32\\Quendal -acceptEULA",
             "Refusing to install into 'C:\\windows\\system32\\Quendal': it is the Windows folder or lies in it."},
        };
        for (const Refused& r : refused) {
            CAPTURE(Test::Narrow(r.args));
            ChildResult result = Run(r.args);
            CHECK(result.exitCode == 201);
            CHECK(result.output.rfind(std::string(r.message) + "\r\n\r\nThis program", 0) == 0);
        }
        CHECK(GetFileAttributesW(L"C:\\windows\\system32\\Quendal") == INVALID_FILE_ATTRIBUTES);
    }
    SUBCASE("left-over words and options, each on its own line")
    {
        ChildResult r = Run(L"-installDir=C:\\Q foo -force=yes -acceptEULA");
        CHECK(r.exitCode == 201);
        CHECK(r.output == "Unexpected command option: foo.\r\nUnexpected command parameter: -force=yes.\r\n\r\n" +
                              kUsage + "\r\n");
    }
    SUBCASE("a non-ASCII word comes through the pipe as UTF-8")
    {
        ChildResult r = Run(L"-installDir=C:\\Q Z\u00fcrich\u65e5\u672c");
        CHECK(r.exitCode == 201);
        CHECK(r.text.rfind(L"Unexpected command option: Z\u00fcrich\u65e5\u672c.\r\n", 0) == 0);
    }
}

// The log's first line: "YYYY-MM-DD HH:MM:SS <program> (<n>-bit build), user
// <name>, command line: <the whole command line>".
void CheckFirstLine(const std::string& line, const std::string& program, const std::wstring& commandLine)
{
    CAPTURE(line);
    REQUIRE(line.size() > 20);
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u})
        CHECK((line[i] >= '0' && line[i] <= '9'));
    CHECK(line.substr(19, program.size() + 1) == " " + program);
    const std::string build = sizeof(void*) == 8 ? " (64-bit build), user " : " (32-bit build), user ";
    CHECK(line.compare(20 + program.size(), build.size(), build) == 0);
    const std::string tail = ", command line: " + Test::Narrow(commandLine);
    REQUIRE(line.size() > tail.size());
    CHECK(line.substr(line.size() - tail.size()) == tail);
}

// The lines of a log file, each without its CR LF; a line that does not end
// with CR LF is kept as it is, which a check on it then shows.
std::vector<std::string> LogLines(const std::wstring& path)
{
    const std::string bytes = Test::ReadFileBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    if (start < bytes.size())
        lines.push_back(bytes.substr(start) + "(no line end)");
    return lines;
}

std::string LastLineCode(const std::vector<std::string>& lines)
{
    REQUIRE(!lines.empty());
    const std::string& last = lines.back();
    REQUIRE(last.size() > 20);
    return last.substr(19);
}

} // namespace

TEST_CASE("-log=FILE keeps the run: a first line, every console line, the exit code; appended, also for early ends")
{
    Test::TempDir dir(L"quendal-log");
    const std::wstring log = dir.Path() + L"\\setup run.log";
    const std::wstring installer = L"\"" + Installer() + L"\"";
    std::vector<std::string> expected;
    // Each run's console text, as the log must hold it between its first and last line.
    auto runLogged = [&](const std::wstring& commandLine, DWORD code, const std::string& program) {
        CAPTURE(Test::Narrow(commandLine));
        ChildResult r = Test::RunCaptured(commandLine);
        CHECK(r.exitCode == code);
        std::vector<std::string> lines = LogLines(log);
        REQUIRE(lines.size() >= expected.size() + 2);
        CHECK(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()) == expected);
        CheckFirstLine(lines[expected.size()], program, commandLine);
        std::string console;
        for (std::size_t i = expected.size() + 1; i + 1 < lines.size(); ++i)
            console += lines[i] + "\r\n";
        CHECK(console == r.output);
        CHECK(LastLineCode(lines) == " Exit code " + std::to_string(code));
        expected = lines;
        return r;
    };
    SUBCASE("a refused command line (201), the agreement missing (140), help (200), one after the other")
    {
        runLogged(installer + L" -installDir=C:\\ -acceptEULA \"-log=" + log + L"\"", 201,
                  "Korvane Quendal 5.18 setup");
        CHECK(expected[1] == "Refusing to install into 'C:\\': it is the root of a drive.");
        runLogged(installer + L" -site=Quendal-LogTest -log=\"" + log + L"\"", 140, "Korvane Quendal 5.18 setup");
        runLogged(installer + L" -help -log=\"" + log + L"\"", 200, "Korvane Quendal 5.18 setup");
        CHECK(GetFileAttributesW((Test::Env(L"ProgramFiles") + L"\\Quendal-LogTest").c_str()) ==
              INVALID_FILE_ATTRIBUTES);
    }
    SUBCASE("an unexpected failure (150), and a non-ASCII line as UTF-8")
    {
        SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", "std-exception");
        runLogged(L"\"" + Test::OwnDirectory() + L"\\failing_installer.exe\" -installDir=C:\\Q -log=\"" + log + L"\"",
                  150, "Korvane Quendal 5.18 setup");
        SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", nullptr);
        ChildResult r = runLogged(installer + L" -installDir=C:\\Q Z\u00fcrich -log=\"" + log + L"\"", 201,
                                  "Korvane Quendal 5.18 setup");
        CHECK(r.output.rfind("Unexpected command option: Z\xc3\xbcrich.\r\n", 0) == 0);
    }
    SUBCASE("a log that cannot be opened is a command-line error, and nothing else is read")
    {
        ChildResult r = Run(L"-site=Quendal -acceptEULA \"-log=" + dir.Path() + L"\\no such folder\\x.log\"");
        CHECK(r.exitCode == 201);
        CHECK(r.text.rfind(L"Cannot open the log file '" + dir.Path() + L"\\no such folder\\x.log': ", 0) == 0);
        CHECK(Run(L"-site=Quendal -acceptEULA -log=").output.rfind("Missing log file name in '-log='.\r\n", 0) == 0);
    }
}

TEST_CASE("on a console, non-ASCII text is written as characters, not bytes")
{
    // A console of this test's own, which the installer inherits; its screen
    // is read back after the installer ended.
    FreeConsole();
    REQUIRE(AllocConsole());
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(screen != INVALID_HANDLE_VALUE);
    std::wstring cmd = L"\"" + Installer() + L"\" -installDir=C:\\Q Z\u00fcrich-\u0416";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    REQUIRE(WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CHECK(code == 201);

    CONSOLE_SCREEN_BUFFER_INFO info;
    REQUIRE(GetConsoleScreenBufferInfo(screen, &info));
    std::wstring firstLine(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    REQUIRE(ReadConsoleOutputCharacterW(screen, &firstLine[0], info.dwSize.X, COORD{0, 0}, &read));
    firstLine.resize(read);
    firstLine.erase(firstLine.find_last_not_of(L' ') + 1);
    CHECK(Test::Narrow(firstLine) == Test::Narrow(L"Unexpected command option: Z\u00fcrich-\u0416."));
    CloseHandle(screen);
    FreeConsole();
}

TEST_CASE("-site= is looked up among the installed sites")
{
    // An entry without uninstall parameters: nothing to remove first.
    Test::ScopedRegKey entry(HKEY_LOCAL_MACHINE, std::wstring(kUninstallKey) + L"\\Quendal-Office");
    entry.SetString(L"Version", L"5.17");
    entry.SetString(L"InstallDir", L"C:\\Sites\\Quendal-Office");
    entry.SetString(L"UninstallString", L"\"C:\\Sites\\Quendal-Office\\uninst.exe\" Quendal-Office ");
    // A different directory given with the site does not match it.
    CHECK(Run(L"-site=Quendal-Office -installDir=C:\\Other -acceptEULA").exitCode == 201);
    // The directory comes from the entry.
    CHECK(Run(L"-site=QUENDAL-office -acceptEULA").exitCode == 0);
    CHECK(GetFileAttributesW(L"C:\\Sites\\Quendal-Office\\Quendal.exe") != INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("an interactive run shows a failure in a message box too")
{
    Test::MessageBoxAnswerer boxes(L"Exception", IDOK);
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", "std-exception");
    ChildResult r = Test::RunCaptured(L"\"" + Test::OwnDirectory() +
                                      L"\\failing_installer.exe\" -interactive -acceptEULA -installDir=C:\\Q");
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", nullptr);
    CHECK(r.exitCode == 150);
    CHECK(r.text == L"std::exception caught: runtime trouble\r\n");
    auto texts = boxes.Texts();
    REQUIRE(texts.size() == 1);
    CHECK(texts[0] == L"std::exception caught: runtime trouble");
}

TEST_CASE("every way out of the run becomes one exit code and one message")
{
    struct Case {
        const char* failure;
        DWORD exitCode;
        std::string output;
    };
    const Case cases[] = {
        // The destructors on the way ran before the entry reported the fault.
        {"access-violation", 150, "destructor ran\r\nstd::exception caught: EXCEPTION_ACCESS_VIOLATION\r\n"},
        {"bad-string", 150, "std::exception caught: EXCEPTION_ACCESS_VIOLATION\r\n"},
        // Thrown inside the dialog's window procedure, carried out of the modal loop.
        {"dialog", 150, "Exception caught: lParam must point to a Data\r\n"},
        {"std-exception", 150, "std::exception caught: runtime trouble\r\n"},
        {"unrecognized", 150, "Unrecognized exception caught\r\n"},
        {"silent-exit", 77, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.failure);
        SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", c.failure);
        ChildResult r = Test::RunCaptured(L"\"" + Test::OwnDirectory() + L"\\failing_installer.exe\" -installDir=C:\\Q");
        SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", nullptr);
        CHECK(r.exitCode == c.exitCode);
        CHECK(r.output == c.output);
    }
}

TEST_CASE("a resource missing when the dialog initialises ends the run through the entry")
{
    // The dialog is shown whatever the options; with a directory given the
    // entry reports on the console alone (the box of an interactive run is
    // tested above).
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", "dialog-data");
    ChildResult r = Test::RunCaptured(L"\"" + Test::OwnDirectory() +
                                      L"\\failing_installer_no_agreement.exe\" -installDir=C:\\Q");
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", nullptr);
    CHECK(r.exitCode == 150);
    CHECK(r.text.rfind(L"Exception caught: FindResourceW() failed: ", 0) == 0);

    // A dialog that cannot be made at all is a failure too, never taken for
    // the administrator's Cancel (202, "nothing changed").
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", "dialog-data");
    ChildResult none = Test::RunCaptured(L"\"" + Test::OwnDirectory() +
                                         L"\\failing_installer_no_dialog.exe\" -installDir=C:\\Q");
    SetEnvironmentVariableA("QUENDAL_TEST_FAILURE", nullptr);
    CAPTURE(Test::Narrow(none.text));
    CHECK(none.exitCode == 150);
    CHECK(none.text.rfind(L"Exception caught: DialogBoxParamW() failed: ", 0) == 0);
}

TEST_CASE("the version resource names the maker, the product, the version and the file; the signature is intact")
{
    const std::wstring exe = Installer();
    CHECK(Test::VersionValue(exe, L"CompanyName") == L"Korvane");
    CHECK(Test::VersionValue(exe, L"ProductName") == L"Quendal");
    CHECK(Test::VersionValue(exe, L"FileVersion") == L"5.18");
    CHECK(Test::VersionValue(exe, L"ProductVersion") == L"5.18");
    CHECK(Test::VersionValue(exe, L"OriginalFilename") == L"QuendalInstaller.exe");
    CHECK(Test::VersionValue(exe, L"FileDescription") == L"Korvane Quendal Setup");
    // Signing added its certificate table without disturbing the resources.
    CHECK(Test::SignatureOf(exe) == Test::kShippedSignature);
}

TEST_CASE("the manifest asks for administrator rights and common controls 6")
{
    HMODULE exe = LoadLibraryExW(Installer().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(exe);
    HRSRC res = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    REQUIRE(res);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe, res))), SizeofResource(exe, res));
    FreeLibrary(exe);
    CHECK(manifest.find("level=\"requireAdministrator\"") != std::string::npos);
    CHECK(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos);
}

TEST_CASE("the manifest, as the loader reads it: system DPI aware, and the Windows versions it supports")
{
    // Read by the system's own parser: a manifest it cannot parse would stop
    // the program from starting at all.
    const std::wstring path = Installer();
    ACTCTXW act = {};
    act.cbSize = sizeof(act);
    act.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    act.lpSource = path.c_str();
    act.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE ctx = CreateActCtxW(&act);
    REQUIRE(ctx != INVALID_HANDLE_VALUE);
    wchar_t value[32] = {};
    SIZE_T written = 0;
    CHECK(QueryActCtxSettingsW(0, ctx, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", value,
                               32, &written));
    CHECK(std::wstring(value) == L"true");
    // No per-monitor awareness: the dialog does not rescale when moved.
    CHECK_FALSE(QueryActCtxSettingsW(0, ctx, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                     L"dpiAwareness", value, 32, &written));

    SIZE_T needed = 0;
    QueryActCtxW(0, ctx, nullptr, CompatibilityInformationInActivationContext, nullptr, 0, &needed);
    std::string info(needed, '\0');
    REQUIRE(needed > sizeof(DWORD));
    REQUIRE(QueryActCtxW(0, ctx, nullptr, CompatibilityInformationInActivationContext, &info[0], needed, &needed));
    ReleaseActCtx(ctx);
    CHECK(*reinterpret_cast<const DWORD*>(info.data()) == 5);
    // Vista, 7, 8, 8.1, 10 (and 11).
    const GUID supported[] = {
        {0xe2011457, 0x1546, 0x43c5, {0xa5, 0xfe, 0x00, 0x8d, 0xee, 0xe3, 0xd3, 0xf0}},
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},
    };
    for (const GUID& id : supported) {
        CAPTURE(id.Data1);
        CHECK(info.find(std::string(reinterpret_cast<const char*>(&id), sizeof(id))) != std::string::npos);
    }
}

namespace {

// The bytes of a resource of the installer in US English (1033).
std::string ResourceOf(HMODULE exe, LPCWSTR type, WORD id)
{
    HRSRC res = FindResourceExW(exe, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!res)
        return std::string();
    return std::string(static_cast<const char*>(LockResource(LoadResource(exe, res))), SizeofResource(exe, res));
}

// The pixel widths of an icon group's images (256 is stored as 0).
std::vector<int> IconWidths(const std::string& group)
{
    std::vector<int> widths;
    if (group.size() < 6)
        return widths;
    const int count = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
    for (int i = 0; i < count && 6u + 14u * i < group.size(); ++i) {
        int w = static_cast<unsigned char>(group[6 + 14 * i]);
        widths.push_back(w ? w : 256);
    }
    return widths;
}

// Reads an extended dialog template: the header and every item.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : b_(bytes) {}
    bool Ok() const { return ok_; }
    WORD Word()
    {
        if (pos_ + 2 > b_.size()) {
            ok_ = false;
            return 0;
        }
        WORD w = static_cast<WORD>(static_cast<unsigned char>(b_[pos_]) | static_cast<unsigned char>(b_[pos_ + 1]) << 8);
        pos_ += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::wstring String()
    {
        std::wstring s;
        for (WORD c = Word(); ok_ && c; c = Word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A name or an ordinal; the standard classes' ordinals as their names.
    std::wstring NameOrOrdinal()
    {
        if (pos_ + 2 <= b_.size() && b_[pos_] == '\xFF' && b_[pos_ + 1] == '\xFF') {
            Word();
            switch (WORD ordinal = Word()) {
            case 0x80: return L"Button";
            case 0x81: return L"Edit";
            case 0x82: return L"Static";
            default: return L"#" + std::to_wstring(ordinal);
            }
        }
        return String();
    }
    void AlignDword() { pos_ = (pos_ + 3) & ~std::size_t(3); }

private:
    const std::string& b_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

struct TemplateItem {
    int id;
    std::wstring cls, text;
    DWORD style, exStyle;
    short x, y, cx, cy;
    bool operator==(const TemplateItem& o) const
    {
        return id == o.id && _wcsicmp(cls.c_str(), o.cls.c_str()) == 0 && text == o.text && style == o.style &&
               exStyle == o.exStyle && x == o.x && y == o.y && cx == o.cx && cy == o.cy;
    }
};

doctest::String toString(const TemplateItem& i)
{
    char line[400];
    std::snprintf(line, sizeof(line), "{%d %ls \"%ls\" style %08lX ex %08lX at %d,%d %dx%d}", i.id, i.cls.c_str(),
                  i.text.c_str(), i.style, i.exStyle, i.x, i.y, i.cx, i.cy);
    return line;
}

} // namespace

TEST_CASE("the dialog's resources: the template, the icons, the agreement and the package description")
{
    HMODULE exe = LoadLibraryExW(Installer().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(exe);
    // The main dialog's template, control by control: text, class, style,
    // extended style, position and size in dialog units; the template's
    // order is the tab order.
    std::string dialog = ResourceOf(exe, RT_DIALOG, 103);
    TemplateReader t(dialog);
    CHECK(t.Word() == 1);      // version
    CHECK(t.Word() == 0xFFFF); // extended
    t.Dword();                 // help id
    CHECK(t.Dword() == 0x00040000);
    CHECK(t.Dword() == 0x92CD0040);
    const WORD count = t.Word();
    CHECK(t.Word() == 0);
    CHECK(t.Word() == 0);
    CHECK(t.Word() == 289);
    CHECK(t.Word() == 262);
    CHECK(t.NameOrOrdinal().empty()); // no menu
    CHECK(t.NameOrOrdinal().empty()); // the standard dialog class
    CHECK(t.String() == L"Korvane Quendal Installer");
    CHECK(t.Word() == 8);
    t.Word(); // weight
    t.Word(); // italic, character set
    CHECK(t.String() == L"MS Shell Dlg"); // scalable, unlike the bitmap MS Sans Serif
    std::vector<TemplateItem> items;
    for (WORD i = 0; i < count && t.Ok(); ++i) {
        t.AlignDword();
        TemplateItem item = {};
        t.Dword(); // help id
        item.exStyle = t.Dword();
        item.style = t.Dword();
        item.x = static_cast<short>(t.Word());
        item.y = static_cast<short>(t.Word());
        item.cx = static_cast<short>(t.Word());
        item.cy = static_cast<short>(t.Word());
        item.id = static_cast<int>(t.Dword());
        item.cls = t.NameOrOrdinal();
        item.text = t.NameOrOrdinal();
        WORD extra = t.Word();
        for (WORD e = 0; e < extra; e += 2)
            t.Word();
        items.push_back(item);
    }
    REQUIRE(t.Ok());
    const std::vector<TemplateItem> expected = {
        {1006, L"Static", L"What's in the package", 0x50010200, 0, 7, 5, 91, 10},
        {1002, L"Static", L"Visit the Quendal web page", 0x50010300, 0x1000, 179, 5, 103, 10},
        {1011, L"Static", L"", 0x50000010, 0, 1, 18, 287, 1},
        {1003, L"RichEdit20A", L"EULA", 0x50210804, 0x20000, 7, 23, 275, 88},
        {1004, L"Button", L"I agree to accept all the terms of this License Agreement", 0x50030003, 0, 7, 116, 275, 10},
        {1007, L"Static", L"", 0x50000010, 0, 1, 129, 287, 1},
        {1013, L"Button", L"Upgrade or replace existing Quendal site:", 0x50030009, 0, 7, 134, 275, 12},
        {1014, L"Button", L"Install new Quendal site:", 0x50000009, 0, 7, 162, 275, 12},
        {1012, L"SysListView32", L"List1", 0x5003C00D, 0x4000, 21, 149, 261, 12},
        {1015, L"Button", L"Install new default site (Quendal)", 0x50030009, 0, 21, 174, 134, 12},
        {1016, L"Button", L"Install new named site:", 0x50000009, 0, 21, 186, 92, 12},
        {1009, L"Static", L"Quendal -", 0x50000202, 0, 112, 186, 43, 12},
        {1017, L"Edit", L"", 0x50830080, 0, 157, 186, 125, 12},
        {1005, L"Static", L"Location:", 0x50030200, 0, 7, 203, 36, 12},
        {1001, L"Edit", L"", 0x50830080, 0, 50, 203, 232, 12},
        {1010, L"Button", L"Run Quendal Control Panel when done", 0x50010003, 0, 7, 220, 275, 10},
        {1008, L"Static", L"", 0x50000010, 0, 1, 234, 287, 1},
        {1, L"Button", L"Install", 0x50010001, 0, 82, 242, 60, 14},
        {2, L"Button", L"Cancel", 0x50010000, 0, 147, 242, 60, 14},
    };
    CHECK(items.size() == expected.size());
    for (std::size_t i = 0; i < items.size() && i < expected.size(); ++i) {
        CAPTURE(i);
        CHECK(items[i] == expected[i]);
    }
    CHECK(IconWidths(ResourceOf(exe, RT_GROUP_ICON, 117)) == std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256});
    CHECK(IconWidths(ResourceOf(exe, RT_GROUP_ICON, 119)) == std::vector<int>{16, 20, 24, 32});
    for (WORD id : {WORD(129), WORD(130)}) {
        CAPTURE(id);
        std::string rtf = ResourceOf(exe, L"RTF", id);
        REQUIRE(rtf.size() > 100);
        CHECK(rtf.rfind("{\\rtf1", 0) == 0);
        CHECK(rtf.back() == '\0');
        CHECK(rtf.find('\0') == rtf.size() - 1); // one zero byte, at the end
        bool ascii = true;
        for (char c : rtf)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        CHECK(ascii);
    }
    FreeLibrary(exe);
}
