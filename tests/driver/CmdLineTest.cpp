#include "../../driver/InstallOptions.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <shlobj.h>

using Test::W;

namespace {

// A folder's 8.3 name as the system gives it (Wine makes its own).
std::wstring ShortName(const std::wstring& path)
{
    wchar_t shortName[MAX_PATH];
    DWORD n = GetShortPathNameW(path.c_str(), shortName, MAX_PATH);
    REQUIRE((n > 0 && n < MAX_PATH));
    return shortName;
}

const wchar_t kExe[] = L"\"C:\\Setup Files\\QuendalInstaller.exe\" ";

std::wstring ErrOf(CmdLine& cmd)
{
    try {
        cmd.CheckAllUsed();
    } catch (const CmdLine::Err& e) {
        return W(e.Message());
    }
    return L"(none)";
}

struct Parsed {
    InstallSettings settings;
    ServerOptions server;
    std::wstring error;
    int exitCode = -1;
};

// Runs the driver's option steps in their order on one command line.
Parsed Parse(const std::wstring& args)
{
    Parsed p;
    try {
        CmdLine cmd(WString((kExe + args).c_str()));
        ParseInstallOptions(cmd, p.settings, L"Quendal");
        ReadServerOptions(cmd, p.server);
        cmd.CheckAllUsed();
    } catch (const CmdLine::Err& e) {
        p.error = W(e.Message());
    } catch (const SilentExit& e) {
        p.exitCode = e.Code();
    }
    return p;
}

std::wstring ProgramFiles()
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, TRUE);
    return path;
}

} // namespace

TEST_CASE("tokens: quotes, backslashes and options")
{
    SUBCASE("the program path is parameter 0 and spaces in quotes stay")
    {
        CmdLine cmd(L"\"C:\\Setup Files\\x.exe\"  word\t\"two words\"");
        REQUIRE(cmd.ParameterCount() == 3);
        CHECK(cmd.Parameter(0).text == L"C:\\Setup Files\\x.exe");
        CHECK(cmd.Parameter(1).text == L"word");
        CHECK(cmd.Parameter(2).text == L"two words");
        CHECK(cmd.Parameter(1).start == 24);
        CHECK(cmd.Parameter(1).end == 28);
    }
    SUBCASE("a whole token in quotes and a quoted value give the same value")
    {
        CmdLine a(L"x.exe \"-installDir=C:\\Program Files\\Q\"");
        CmdLine b(L"x.exe -installDir=\"C:\\Program Files\\Q\"");
        WString va, vb;
        CHECK(a.Value(L"installDir", va));
        CHECK(b.Value(L"installDir", vb));
        CHECK(va == L"C:\\Program Files\\Q");
        CHECK(vb == va);
    }
    SUBCASE("backslashes: doubled gives one, one before a quote makes it literal")
    {
        CmdLine cmd(L"x.exe -a=\\\\server\\share -b=say\\\"hi\\\" -c=C:\\dir\\");
        WString a, b, c;
        cmd.Value(L"a", a);
        cmd.Value(L"b", b);
        cmd.Value(L"c", c);
        CHECK(a == L"\\server\\share");
        CHECK(b == L"say\"hi\"");
        CHECK(c == L"C:\\dir\\");
    }
    SUBCASE("a doubled quote inside quotes is one literal quote; an empty token is ignored")
    {
        CmdLine cmd(L"x.exe \"a\"\"b\" \"\" end");
        REQUIRE(cmd.ParameterCount() == 3);
        CHECK(cmd.Parameter(1).text == L"a\"b");
        CHECK(cmd.Parameter(2).text == L"end");
    }
    SUBCASE("option names ignore case, / works like -, the later value wins")
    {
        CmdLine cmd(L"x.exe -INSTALLDIR=C:\\x /installdir=C:\\y -Flag");
        WString v;
        CHECK(cmd.Value(L"installDir", v));
        CHECK(v == L"C:\\y");
        CHECK(cmd.Flag(L"flag", true));
        CHECK(cmd.OptionCount() == 2);
    }
    SUBCASE("flags and values do not mix; a lone - or / is a parameter")
    {
        CmdLine cmd(L"x.exe -force=yes -v - /");
        WString v;
        CHECK_FALSE(cmd.Flag(L"force", true));
        CHECK_FALSE(cmd.Value(L"v", v));
        CHECK(cmd.ParameterCount() == 3);
        CHECK(cmd.Value(L"force", v));
        CHECK(v == L"yes");
    }
    SUBCASE("an option written with = and nothing after it has an empty value")
    {
        CmdLine cmd(L"x.exe -installDir= -a=b=c");
        WString v(L"stale"), w;
        CHECK(cmd.Value(L"installDir", v));
        CHECK(v.empty());
        CHECK(cmd.Value(L"a", w));
        CHECK(w == L"b=c");
    }
    SUBCASE("options are enumerated in name order")
    {
        CmdLine cmd(L"x.exe -zeta -Alpha=1 -beta");
        WString name, value;
        bool hasValue = false;
        std::wstring seen;
        for (bool more = cmd.FirstOption(name, hasValue, value); more; more = cmd.NextOption(name, hasValue, value))
            seen += W(name) + (hasValue ? L"=" + W(value) : L"") + L";";
        CHECK(seen == L"Alpha=1;beta;zeta;");
    }
}

TEST_CASE("left-over parameters and options are reported")
{
    CmdLine cmd(L"x.exe foo -force=yes -b -A=1 bar");
    CHECK(ErrOf(cmd) == L"Unexpected command option: foo.\nUnexpected command option: bar.\n"
                        L"Unexpected command parameter: -A=1.\nUnexpected command parameter: -b.\n"
                        L"Unexpected command parameter: -force=yes.");
    cmd.Flag(L"b", true);
    WString v;
    cmd.Value(L"A", v);
    CHECK(ErrOf(cmd) == L"Unexpected command option: foo.\nUnexpected command option: bar.\n"
                        L"Unexpected command parameter: -force=yes.");
    CmdLine clean(L"x.exe -q");
    clean.Flag(L"q", true);
    CHECK(ErrOf(clean) == L"(none)");
}

TEST_CASE("the installer's option table")
{
    SUBCASE("no options at all: interactive, nothing read")
    {
        Parsed p = Parse(L"");
        CHECK(p.error.empty());
        CHECK(p.settings.interactive);
        CHECK(p.settings.installDir.empty());
    }
    SUBCASE("any option requires a directory or a site")
    {
        CHECK(Parse(L"-interactive").error == L"Missing '-installDir' or '-site' parameter.");
        CHECK(Parse(L"-installDir").error == L"Missing '-installDir' or '-site' parameter.");
        CHECK(Parse(L"-installDir= -acceptEULA").error == L"Missing '-installDir' or '-site' parameter.");
        CHECK(Parse(L"stray").error == L"Missing '-installDir' or '-site' parameter.");
    }
    SUBCASE("help wins over everything, with 200")
    {
        CHECK(Parse(L"-help").exitCode == 200);
        CHECK(Parse(L"/? -force=yes").exitCode == 200);
        CHECK(Parse(L"-H -installDir=C:\\x").exitCode == 200);
    }
    SUBCASE("flags and the directory")
    {
        Parsed p = Parse(L"-installDir=C:\\Q\\ -acceptEULA -FORCE /noRollback -startService -interactive");
        CHECK(p.error.empty());
        CHECK(p.settings.interactive);
        CHECK(p.settings.acceptEULA);
        CHECK(p.settings.force);
        CHECK(p.settings.noRollback);
        CHECK(p.server.startService);
        CHECK(p.settings.installDir == L"C:\\Q");
    }
    SUBCASE("-force=yes is not the flag")
    {
        Parsed p = Parse(L"-installDir=C:\\Q -force=yes");
        CHECK(p.error == L"Unexpected command parameter: -force=yes.");
    }
    SUBCASE("directory and site must agree")
    {
        CHECK(Parse(L"-installDir=C:\\A\\Quendal-Test -site=Quendal-test").error.empty());
        CHECK(Parse(L"-installDir=C:\\A\\B -site=Quendal-Test").error ==
              L"Mismatching '-installDir' and '-site' parameters.");
        CHECK(Parse(L"-installDir=C:\\A\\B -site=quendal").error.empty());
    }
    SUBCASE("a site that is not installed goes under Program Files")
    {
        CHECK(W(Parse(L"-site=Quendal-Test").settings.installDir) == ProgramFiles() + L"\\Quendal-Test");
        CHECK(W(Parse(L"-site=quendal").settings.installDir) == ProgramFiles() + L"\\quendal");
        CHECK(W(Parse(L"\"-site=Quendal-My Site\"").settings.installDir) == ProgramFiles() + L"\\Quendal-My Site");
    }
    SUBCASE("a site name is the product, or the product, a dash and a folder name")
    {
        for (const wchar_t* site : {L"Foo", L"Quendal-", L"Quendal-..\\..\\Windows", L"Quendal-a/b", L"Quendal-C:x",
                                    L"Quendal-x.", L"Quendal-a*", L"Quendal-a?b", L"Quendal-a|b", L"QuendalX",
                                    L"Quendal-a<b>"}) {
            CAPTURE(Test::Narrow(site));
            CHECK(Parse(std::wstring(L"-site=") + site).error ==
                  L"Invalid '-site' parameter: '" + std::wstring(site) +
                      L"' is not 'Quendal' or 'Quendal-' followed by a folder name.");
        }
    }
    SUBCASE("refused targets: a drive's root, the Windows folder and below, a Program Files folder itself")
    {
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        const std::wstring win = windows;
        struct Refused {
            std::wstring dir;
            const wchar_t* reason;
        };
        const Refused refused[] = {
            {L"C:\\", L"it is the root of a drive"},
            {L"D:", L"it is the root of a drive"},
            {win, L"it is the Windows folder or lies in it"},
            {win + L"\\System32\\Quendal", L"it is the Windows folder or lies in it"},
            {L"C:\\Program Files\\..\\Windows", L"it is the Windows folder or lies in it"},
            {ProgramFiles(), L"it is the Program Files folder itself"},
            {ProgramFiles() + L"\\", L"it is the Program Files folder itself"},
            // Other forms of the same folders, and names Windows would change.
            // The command line takes a leading "\\\\" as "\\": the device forms
            // arrive as a folder named "?" or "C:" on the current drive.
            {L"\\\\?\\" + win + L"\\Quendal-W", L"a folder name holds a character that names may not hold"},
            {L"\\\\.\\" + win + L"\\Quendal-W", L"a folder name holds a character that names may not hold"},
            {L"C:/Sites/../" + win.substr(3) + L"/Quendal-W", L"it is the Windows folder or lies in it"},
            {ShortName(win) + L"\\Quendal-W", L"it is the Windows folder or lies in it"},
            {L"C:\\Sites.\\Quendal-W", L"a folder name ends with a dot or a space"},
            {L"C:\\Sites\\Quendal-W.", L"a folder name ends with a dot or a space"},
            {L"C:\\Sites \\Quendal-W", L"a folder name ends with a dot or a space"},
            // What -site= refuses as a name, a folder's name does not give.
            {L"C:\\X\\Quendal-", L"its folder name 'Quendal-' names no site ('Quendal-' must be followed by a name)"},
            {L"C:\\X\\QUENDAL-", L"its folder name 'QUENDAL-' names no site ('Quendal-' must be followed by a name)"},
        };
        for (const Refused& r : refused) {
            CAPTURE(Test::Narrow(r.dir));
            // Quoted only when it holds a space; a backslash before the closing quote is doubled.
            std::wstring arg = r.dir;
            if (arg.find(L' ') != std::wstring::npos)
                arg = L"\"" + arg + (arg.back() == L'\\' ? L"\\" : L"") + L"\"";
            Parsed parsed = Parse(L"-installDir=" + arg + L" -acceptEULA");
            std::wstring error = parsed.error;
            const std::string installDir = Test::Narrow(W(parsed.settings.installDir));
            CAPTURE(installDir);
            CHECK(error.rfind(L"Refusing to install into '", 0) == 0);
            CHECK(error.size() > wcslen(r.reason));
            CHECK(error.substr(error.size() - wcslen(r.reason) - 1) == std::wstring(r.reason) + L".");
        }
        CHECK(Parse(L"-installDir=\"" + ProgramFiles() + L"\\Korvane Quendal\" -acceptEULA").error.empty());
        CHECK(Parse(L"-installDir=C:\\Windowsfolder -acceptEULA").error.empty());

        // A folder that is a link: securing it would secure what it points at.
        Test::TempDir root;
        REQUIRE(CreateDirectoryW((root.Path() + L"\\target").c_str(), nullptr));
        const std::wstring link = root.Path() + L"\\Quendal-Linked";
        Test::MakeLink(root.Path() + L"\\target", link);
        CHECK(Parse(L"\"-installDir=" + link + L"\" -acceptEULA").error ==
              L"Refusing to install into '" + link + L"': it is a link (a junction, a symbolic link or a mount point).");
        Test::RemoveLink(link);
    }
    SUBCASE("an entry whose directory is of another name is not the site's")
    {
        Test::ScopedRegKey entry(HKEY_LOCAL_MACHINE,
                                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quendal-X");
        entry.SetString(L"Version", L"5.17");
        entry.SetString(L"InstallDir", L"C:\\Other");
        entry.SetString(L"UninstallString", L"\"C:\\Other\\uninst.exe\" Quendal-X ");
        CHECK(W(Parse(L"-site=Quendal-X").settings.installDir) == ProgramFiles() + L"\\Quendal-X");
    }
    SUBCASE("an installed site is found by name, ignoring case")
    {
        Test::ScopedRegKey entry(HKEY_LOCAL_MACHINE,
                                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quendal-Office");
        entry.SetString(L"Version", L"5.17");
        entry.SetString(L"InstallDir", L"D:\\Sites\\Quendal-Office");
        entry.SetString(L"UninstallString", L"\"D:\\Sites\\Quendal-Office\\uninst.exe\" Quendal-Office ");
        CHECK(Parse(L"-site=quendal-office").settings.installDir == L"D:\\Sites\\Quendal-Office");
    }
    SUBCASE("the settings file is made absolute against the current directory")
    {
        Test::TempDir dir;
        wchar_t old[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, old);
        SetCurrentDirectoryW(dir.Path().c_str());
        Parsed p = Parse(L"-installDir=C:\\Q -settings=my.qst");
        SetCurrentDirectoryW(old);
        CHECK(W(p.server.settingsFile) == dir.Path() + L"\\my.qst");
    }
}
