#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallSettings.h"
#include "../../steps/OperationWithRollback.h"
#include "../../steps/StepReport.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/RunMode.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include <doctest/doctest.h>
#include <string>
#include <vector>

using Test::W;

namespace {

// The exit code the policy ended the run with, or -1 when it let it go on.
int PolicyOutcome(StepKind kind, const wchar_t* subject, const wchar_t* reason)
{
    try {
        ReportStepFailure(kind, subject, reason);
    } catch (const SilentExit& e) {
        return e.Code();
    }
    return -1;
}

struct PolicyRow {
    StepKind kind;
    const wchar_t* subject;
    int code;
    const wchar_t* warning;
    const wchar_t* abort;
    const wchar_t* title;
    const wchar_t* box;
    const wchar_t* cancel;
};

const PolicyRow kRows[] = {
    {StepKind::SecuringDirectory, L"C:\\Q", 108, L"Warning: Securing intallation directory failed: R",
     L"Securing intallation directory failed: R (use /Force flag to override); aborting",
     L"Securing installation directory failure",
     L"Securing intallation directory failed: R\nDo you want to continue with the installation anyway?",
     L"Installation canceled by user (securing installation directory failure)"},
    {StepKind::ExistingFile, L"C:\\Q\\a.dll", 104, L"Warning: 'C:\\Q\\a.dll' already exists, will be overwritten",
     L"Target file 'C:\\Q\\a.dll' already exists, aborting", L"Target File Exists",
     L"Warning: 'C:\\Q\\a.dll' already exists.\nDo you want it to be overwritten?\nClicking 'Yes' will overwrite "
     L"the file, clicking 'No' will abort the installation.",
     L"Installation canceled by user (file already exists)"},
    {StepKind::Shortcut, L"C:\\S\\x.lnk", 105, L"Warning: creating shortcut 'C:\\S\\x.lnk' failed: R",
     L"Creating shortcut 'C:\\S\\x.lnk' failed: R, aborting", L"Creating Shortcut Failed",
     L"Warning: creating shortcut 'C:\\S\\x.lnk' failed.\nReason: R.\nDo you want to continue with the "
     L"installation anyway?",
     L"Installation canceled by user (creating shortcut failed)"},
    {StepKind::AutoRun, L"QuendalRun", 111, L"Warning: auto run QuendalRun registration failed: R",
     L"Auto run QuendalRun registration failed: R, aborting", L"Auto Run Registration Failed",
     L"Warning: auto run 'QuendalRun' registration failed.\nReason: R\nDo you want to continue with the "
     L"installation anyway?",
     L"Installation canceled by user (auto run registration failed)"},
    {StepKind::ComServer, L"C:\\Q\\cfg.exe", 111, L"Warning: server C:\\Q\\cfg.exe registration failed: R",
     L"Server C:\\Q\\cfg.exe registration failed: R, aborting", L"Server Registration Failed",
     L"Warning: server 'C:\\Q\\cfg.exe' registration failed.\nReason: R\nDo you want to continue with the "
     L"installation anyway?",
     L"Installation canceled by user (server registration failed)"},
    {StepKind::Service, L"C:\\Q\\Quendal.exe", 110, L"Warning: service 'C:\\Q\\Quendal.exe' registration failed: R",
     L"Service 'C:\\Q\\Quendal.exe' registration failed: R, aborting", L"Service Registration Failed",
     L"Warning: service 'C:\\Q\\Quendal.exe' registration failed.\nR\nDo you want to continue with the "
     L"installation anyway?\n",
     L"Installation canceled by user (service registration failed)"},
    {StepKind::UninstallerEntry, L"", 113, L"Warning: uninstaller registration failed: R",
     L"Uninstaller registration failed: R, aborting", L"Uninstaller Registration Failed",
     L"Warning: uninstaller registration failed.\nReason: R\nDo you want to continue with the installation "
     L"anyway?",
     L"Installation canceled by user (uninstaller registration failed)"},
};

// Message boxes show "\n" as line breaks; their static text gives back "\r\n"
// on some systems: compare without carriage returns.
std::wstring NoCr(std::wstring s)
{
    std::wstring out;
    for (wchar_t c : s)
        if (c != L'\r')
            out += c;
    return out;
}

// A step that records its construction and rollback in a shared log.
class RecordingStep : public OperationWithRollback {
public:
    RecordingStep(std::vector<std::wstring>& log, const wchar_t* name, bool done)
        : log_(log), name_(name), done_(done)
    {
        log_.push_back(std::wstring(L"do ") + name_);
    }
    ~RecordingStep()
    {
        if (ShouldRollBack(done_))
            log_.push_back(std::wstring(L"undo ") + name_);
    }

private:
    std::vector<std::wstring>& log_;
    const wchar_t* name_;
    bool done_;
};

} // namespace

TEST_CASE("the step failure policy, unattended")
{
    for (const PolicyRow& row : kRows) {
        CAPTURE(Test::Narrow(row.title));
        {
            Test::RunMode mode(false, false);
            Test::ConsoleCapture console;
            CHECK(PolicyOutcome(row.kind, row.subject, L"R") == row.code);
            CHECK(console.Lines() == std::vector<std::wstring>{row.abort});
        }
        {
            Test::RunMode mode(false, true);
            Test::ConsoleCapture console;
            CHECK(PolicyOutcome(row.kind, row.subject, L"R") == -1);
            CHECK(console.Lines() == std::vector<std::wstring>{row.warning});
        }
    }
}

TEST_CASE("the step failure policy, interactive")
{
    for (const PolicyRow& row : kRows) {
        CAPTURE(Test::Narrow(row.title));
        bool securing = row.kind == StepKind::SecuringDirectory;
        std::vector<std::wstring> firstLine;
        if (securing)
            firstLine.push_back(row.warning); // the console gets the warning before the box
        {
            Test::RunMode mode(true, false);
            Test::ConsoleCapture console;
            Test::MessageBoxAnswerer yes(row.title, IDYES);
            CHECK(PolicyOutcome(row.kind, row.subject, L"R") == -1);
            CHECK(console.Lines() == firstLine);
            REQUIRE(yes.Texts().size() == 1);
            CHECK(NoCr(yes.Texts()[0]) == row.box);
            CHECK(yes.DefaultButtons()[0] == (securing ? IDNO : IDYES));
        }
        {
            Test::RunMode mode(true, true); // -force changes nothing in an interactive run
            Test::ConsoleCapture console;
            Test::MessageBoxAnswerer no(row.title, IDNO);
            CHECK(PolicyOutcome(row.kind, row.subject, L"R") == row.code);
            std::vector<std::wstring> expected = firstLine;
            expected.push_back(row.cancel);
            CHECK(console.Lines() == expected);
        }
    }
}

TEST_CASE("steps roll back in reverse order, unless committed or -noRollback")
{
    std::vector<std::wstring> log;
    SUBCASE("a stop unwinds the steps built so far, skipping what was not done")
    {
        Test::RunMode mode(false, false);
        try {
            RecordingStep a(log, L"a", true);
            RecordingStep b(log, L"b", false);
            RecordingStep c(log, L"c", true);
            throw SilentExit(104);
        } catch (const SilentExit&) {
        }
        CHECK(log == std::vector<std::wstring>{L"do a", L"do b", L"do c", L"undo c", L"undo a"});
    }
    SUBCASE("committed steps undo nothing")
    {
        Test::RunMode mode(false, false);
        {
            RecordingStep a(log, L"a", true);
            RecordingStep b(log, L"b", true);
            b.Commit();
            a.Commit();
        }
        CHECK(log == std::vector<std::wstring>{L"do a", L"do b"});
    }
    SUBCASE("-noRollback leaves everything in place")
    {
        Test::RunMode mode(false, false, true);
        try {
            RecordingStep a(log, L"a", true);
            throw SilentExit(104);
        } catch (const SilentExit&) {
        }
        CHECK(log == std::vector<std::wstring>{L"do a"});
    }
}

TEST_CASE("the rollback failure report")
{
    Test::TempDir dir;
    std::wstring file = dir.Path() + L"\\left.dll";
    Test::WriteTextFile(file, "x");
    HKEY session;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &session) == 0);
    RegDeleteValueW(session, kPendingRenamesValue);

    SUBCASE("a file: console line, box, and the deletion scheduled for the restart")
    {
        Test::RunMode mode(true, false);
        Test::ConsoleCapture console;
        Test::MessageBoxAnswerer ok(L"File Deletion Failed", IDOK);
        ReportRollbackFailure(RollbackKind::File, file.c_str(), L"Access is denied.");
        CHECK(console.Lines() == std::vector<std::wstring>{L"File deletion failed: Access is denied.",
                                                           L"Scheduling file deletion on reboot"});
        REQUIRE(ok.Texts().size() == 1);
        CHECK(NoCr(ok.Texts()[0]) == L"Unable to remove previously created '" + file +
                                         L"'.\nReason: Access is denied.\nThe file will be scheduled for deletion "
                                         L"on reboot.");
        wchar_t pending[4096] = {};
        DWORD size = sizeof(pending);
        REQUIRE(RegQueryValueExW(session, kPendingRenamesValue, nullptr, nullptr, reinterpret_cast<BYTE*>(pending),
                                 &size) == 0);
        CHECK(std::wstring(pending) == L"\\??\\" + file);
    }
    SUBCASE("a directory that cannot be scheduled prints the failed line; no box unattended")
    {
        Test::RunMode mode(false, false);
        Test::ConsoleCapture console;
        ReportRollbackFailure(RollbackKind::Directory, L"", L"The directory is not empty.");
        CHECK(console.Lines() == std::vector<std::wstring>{
                                     L"Rollback: error removing directory: The directory is not empty.",
                                     L"Scheduling removing directory on reboot",
                                     L"Scheduling removing directory failed"});
    }
    SUBCASE("registrations are not scheduled")
    {
        Test::RunMode mode(false, false);
        Test::ConsoleCapture console;
        ReportRollbackFailure(RollbackKind::Service, L"C:\\Q\\Quendal.exe", L"R");
        ReportRollbackFailure(RollbackKind::ComServer, L"C:\\Q\\c.exe", L"R");
        ReportRollbackFailure(RollbackKind::AutoRun, L"Run", L"R");
        ReportRollbackFailure(RollbackKind::UninstallerEntry, L"", L"R");
        ReportRollbackFailure(RollbackKind::Shortcut, L"", L"R");
        CHECK(console.Lines() ==
              std::vector<std::wstring>{L"Unregistering service failed: R", L"Unregister server failed: R",
                                        L"Unregistering auto run failed: R", L"Uninstaller unregistration failed: R",
                                        L"Shortcut deletion failed: R", L"Scheduling remove shortcut on reboot",
                                        L"Scheduling remove shortcut failed"});
    }
    RegDeleteValueW(session, kPendingRenamesValue);
    RegCloseKey(session);
}

TEST_CASE("the uninstall parameter list")
{
    Test::RunMode mode(false, false);
    AppendUninstallFeedback();
    AppendUninstallParam(L"workDir", L"C:\\Q");
    AppendUninstallParam(L"stopSvc", L"Quendal");
    AppendUninstallParam(L"delRegKey", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\X");
    CHECK(W(TheInstallSettings().uninstallParams) ==
          L" -feedback=yes \"-workDir=C:\\Q\" \"-stopSvc=Quendal\" \"-delRegKey=HKEY_LOCAL_MACHINE\\SOFTWARE\\X\"");
}
