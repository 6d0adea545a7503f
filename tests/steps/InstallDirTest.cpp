#include "../../steps/DeferredFileOps.h"
#include "../../steps/InstallSettings.h"
#include "../../steps/MakeInstallDir.h"
#include "../../steps/SecuredInstallDir.h"
#include "../../steps/undo/UndoSecurity.h"
#include "../../steps/TargetDirectory.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/RunMode.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include <doctest/doctest.h>
#include <aclapi.h>
#include <sddl.h>
#include <vector>

using Test::W;
using Lines = std::vector<std::wstring>;

namespace {

bool IsDir(const std::wstring& p)
{
    return IsDirectory(p.c_str());
}

// A descriptor made from SDDL text, to try the "set by hand" rule on.
struct Descriptor {
    explicit Descriptor(const wchar_t* sddl)
    {
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
        BOOL present, defaulted;
        GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
        DWORD revision;
        GetSecurityDescriptorControl(sd, &control, &revision);
        GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    }
    ~Descriptor() { LocalFree(sd); }
    PSECURITY_DESCRIPTOR sd = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

} // namespace

TEST_CASE("which parents a directory step may create")
{
    CHECK(CreatableParentOf(L"C:\\A\\B") == L"C:\\A");
    CHECK(CreatableParentOf(L"C:\\A") == L"");
    CHECK(CreatableParentOf(L"\\\\server\\share\\dir") == L"\\\\server\\share");
    CHECK(CreatableParentOf(L"\\\\server\\share") == L"");
    CHECK(CreatableParentOf(L"dir") == L"");
    CHECK(CreatableParentOf(L"\\x") == L"");
}

TEST_CASE("directories: parents outermost first, rollback innermost first")
{
    Test::TempDir root(L"A");
    std::wstring a = root.Path(), b = a + L"\\B", c = b + L"\\C";
    Test::RunMode mode(false);
    Test::ConsoleCapture console;

    SUBCASE("rolled back")
    {
        try {
            MakeInstallDir step(c.c_str(), nullptr, 0);
            CHECK(IsDir(c));
            CHECK(W(TheInstallSettings().uninstallParams) == L" \"-delDir=" + b + L"\" \"-delDir=" + c + L"\"");
            throw SilentExit(104);
        } catch (const SilentExit&) {
        }
        CHECK(console.Lines() == Lines{L"Rollback: removing previously created " + c,
                                       L"Rollback: removing previously created " + b});
        CHECK_FALSE(IsDir(b));
        CHECK(IsDir(a));
    }
    SUBCASE("committing the innermost step commits the chain")
    {
        {
            MakeInstallDir step(c.c_str(), nullptr, 0);
            step.Commit();
        }
        CHECK(console.Lines().empty());
        CHECK(IsDir(c));
    }
    SUBCASE("-noRollback leaves what was made")
    {
        TheInstallSettings().noRollback = true;
        {
            MakeInstallDir step(c.c_str(), nullptr, 0);
        }
        CHECK(IsDir(c));
    }
    SUBCASE("an existing directory is neither made nor removed")
    {
        REQUIRE(CreateDirectoryW(b.c_str(), nullptr));
        {
            MakeInstallDir step(b.c_str(), nullptr, 0);
            CHECK_FALSE(step.Created());
        }
        CHECK(IsDir(b));
        CHECK(TheInstallSettings().uninstallParams.empty());
    }
    SUBCASE("flag 2: a missing parent is not made, and the directory cannot be")
    {
        int code = Test::ExitCodeOf([&] { MakeInstallDir step(c.c_str(), nullptr, MakeInstallDir::NoParents); });
        CHECK(code == 102);
        CHECK(console.Lines() ==
              Lines{L"Unable to create target directory '" + c + L"': " + W(WWLib::WindowsErrorText(3))});
    }
}

TEST_CASE("directories that cannot be made end the run")
{
    Test::TempDir root;
    std::wstring file = root.Path() + L"\\file";
    Test::WriteTextFile(file, "x");
    std::wstring bad = root.Path() + L"\\bad|name";

    SUBCASE("unattended: a file in the way is 101, a failed creation 102")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(Test::ExitCodeOf([&] { MakeInstallDir step(file.c_str(), nullptr, 0); }) == 101);
        CHECK(Test::ExitCodeOf([&] { MakeInstallDir step(bad.c_str(), nullptr, 0); }) == 102);
        CHECK(console.Lines() ==
              Lines{L"Unable to create target directory '" + file +
                        L"': The specified target path already exists and is not a directory, aborting",
                    L"Unable to create target directory '" + bad + L"': " + W(WWLib::WindowsErrorText(123))});
    }
    SUBCASE("interactive: a file in the way is 103, a failed creation 101, each in a box")
    {
        Test::RunMode mode(true);
        Test::ConsoleCapture console;
        Test::MessageBoxAnswerer invalid(L"Invalid Target Directory", IDOK);
        Test::MessageBoxAnswerer failed(L"Directory Creation Failed", IDOK);
        CHECK(Test::ExitCodeOf([&] { MakeInstallDir step(file.c_str(), nullptr, 0); }) == 103);
        CHECK(Test::ExitCodeOf([&] { MakeInstallDir step(bad.c_str(), nullptr, 0); }) == 101);
        CHECK(invalid.Texts() == Lines{L"Unable to create target directory '" + file +
                                       L"': The specified target path already exists and is not a directory."});
        CHECK(failed.Texts() ==
              Lines{L"Unable to create target directory '" + bad + L"': " + W(WWLib::WindowsErrorText(123))});
    }
    SUBCASE("a parent in the way stops the run from the parent's step")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(Test::ExitCodeOf([&] { MakeInstallDir step((file + L"\\sub").c_str(), nullptr, 0); }) == 101);
        CHECK(console.Lines().size() == 1);
        CHECK(console.Lines()[0].find(L"'" + file + L"'") != std::wstring::npos);
    }
}

TEST_CASE("a directory that cannot be removed on rollback is scheduled for the restart")
{
    Test::TempDir root;
    std::wstring dir = root.Path() + L"\\made";
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    {
        MakeInstallDir step(dir.c_str(), nullptr, 0);
        Test::WriteTextFile(dir + L"\\stranger.txt", "not ours");
    }
    CHECK(console.Lines() == Lines{L"Rollback: removing previously created " + dir,
                                   L"Rollback: error removing directory: " + W(WWLib::WindowsErrorText(145)),
                                   L"Scheduling removing directory on reboot"});
    wchar_t pending[4096] = {};
    DWORD size = sizeof(pending);
    RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, RRF_RT_REG_MULTI_SZ, nullptr, pending,
                 &size);
    CHECK(std::wstring(pending) == L"\\??\\" + dir);

    // Using the same directory again keeps that pending removal while the
    // step can still be rolled back, and cancels it at the commit; with
    // nothing else pending the value goes.
    { MakeInstallDir again(dir.c_str(), nullptr, 0); }
    CHECK_FALSE(Test::PendingRestartOperations().empty());
    {
        MakeInstallDir again(dir.c_str(), nullptr, 0);
        again.Commit();
    }
    CHECK(Test::PendingRestartOperations().empty());
}

TEST_CASE("the installation directory's access list")
{
    AccessList list;
    SecuredInstallDir::BuildAccessList(list);
    REQUIRE(list.Count() == 3);
    const wchar_t* sids[] = {L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-11"};
    const DWORD masks[] = {0x001F01FF, 0x001F01FF, 0xA0000000};
    for (std::size_t i = 0; i < 3; ++i) {
        wchar_t* text = nullptr;
        ConvertSidToStringSidW(static_cast<PSID>(list.Entry(i).Trustee.ptstrName), &text);
        CHECK(std::wstring(text) == sids[i]);
        LocalFree(text);
        CHECK(list.Entry(i).grfAccessPermissions == masks[i]);
    }
}

TEST_CASE("a DACL set up by hand is kept")
{
    // Explicit entry, automatically inherited: set by hand.
    Descriptor byHand(L"O:BAD:AI(A;OICI;FA;;;BA)(A;OICIID;FR;;;WD)");
    CHECK(SecuredInstallDir::DaclSetByHand(byHand.control, byHand.dacl, byHand.owner));
    // Protected and automatically inherited: set by hand.
    Descriptor isProtected(L"O:SYD:PAI(A;OICIID;FA;;;BA)");
    CHECK(SecuredInstallDir::DaclSetByHand(isProtected.control, isProtected.dacl, isProtected.owner));
    Descriptor byInstaller(
        L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;OICIID;FA;;;BA)");
    CHECK(SecuredInstallDir::DaclSetByHand(byInstaller.control, byInstaller.dacl, byInstaller.owner));
    // Only inherited entries: what a new folder gets, replaced.
    Descriptor inherited(L"O:BAD:AI(A;OICIID;FA;;;BA)");
    CHECK_FALSE(SecuredInstallDir::DaclSetByHand(inherited.control, inherited.dacl, inherited.owner));
    // Not automatically inherited (an old-style DACL): replaced.
    Descriptor old(L"O:BAD:(A;OICI;FA;;;BA)");
    CHECK_FALSE(SecuredInstallDir::DaclSetByHand(old.control, old.dacl, old.owner));
    // Set up by hand, but by whoever made the folder first: replaced.
    for (const wchar_t* sddl : {L"O:BUD:PAI(A;OICI;FA;;;BU)", L"O:WDD:AI(A;OICI;FA;;;WD)",
                                L"O:S-1-5-21-1-2-3-1001D:PAI(A;OICI;FA;;;S-1-5-21-1-2-3-1001)",
                                L"D:PAI(A;OICI;FA;;;BA)"}) {
        CAPTURE(Test::Narrow(sddl));
        Descriptor user(sddl);
        CHECK_FALSE(SecuredInstallDir::DaclSetByHand(user.control, user.dacl, user.owner));
    }
}

TEST_CASE("securing the installation directory")
{
    Test::TempDir root;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = (root.Path() + L"\\Quendal").c_str();
    Test::ConsoleCapture console;
    {
        SecuredInstallDir dir;
        dir.CheckAclSupport();
        dir.Secure();
        CHECK_FALSE(dir.Unsecured());
        REQUIRE(dir.DirStep());
        CHECK(dir.DirStep()->Created());
        CHECK(IsDir(root.Path() + L"\\Quendal"));
        CHECK(W(TheInstallSettings().uninstallParams) == L" \"-delDir=" + root.Path() + L"\\Quendal\"");
    }
    // Not committed: the directory goes again.
    CHECK_FALSE(IsDir(root.Path() + L"\\Quendal"));
    CHECK(console.Lines() == Lines{L"Rollback: removing previously created " + root.Path() + L"\\Quendal"});
}

namespace {

// What Everyone may do with a folder, as its list reads back.
DWORD EveryoneMask(const std::wstring& dir)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    REQUIRE(GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &sd) == ERROR_SUCCESS);
    DWORD mask = 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            Sid::Everyone().Equals(&ace->SidStart))
            mask |= ace->Mask;
    }
    LocalFree(sd);
    return mask;
}

} // namespace

TEST_CASE("a folder someone made first: secured, owned by Administrators, held; a link there ends the run")
{
    Test::TempDir root;
    const std::wstring dir = root.Path() + L"\\Quendal";
    const DWORD write = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE;
    SUBCASE("a folder that lets everyone write")
    {
        // As a user who made it first leaves it. Wine keeps the owner as the
        // user whatever is set, but keeps Everyone's write bits.
        REQUIRE(CreateDirectoryW(dir.c_str(), nullptr));
        Descriptor everyone(L"D:P(A;OICI;FA;;;WD)");
        REQUIRE(SetNamedSecurityInfoW(const_cast<wchar_t*>(dir.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, everyone.dacl, nullptr) == ERROR_SUCCESS);
        REQUIRE((EveryoneMask(dir) & write) != 0);
        Test::RunMode mode(false);
        TheInstallSettings().installDir = dir.c_str();
        Test::ConsoleCapture console;
        {
            SecuredInstallDir secured;
            REQUIRE(Test::ExitCodeOf([&] { secured.Secure(); }) == -1);
            CHECK_FALSE(secured.Unsecured());
            CHECK(secured.OwnerTrusted());
            CHECK((EveryoneMask(dir) & write) == 0);
            // Held while the installation writes into it: nobody may open it
            // to rename or delete it, and so replace it by a link. (Wine's
            // own rename does not ask, docs/wine-differences.md.)
            HANDLE forDelete = CreateFileW(dir.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            CHECK(forDelete == INVALID_HANDLE_VALUE);
            CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
            if (forDelete != INVALID_HANDLE_VALUE)
                CloseHandle(forDelete);
            Test::WriteTextFile(dir + L"\\inside.txt", "written below the held folder");
            CHECK(DeleteFileW((dir + L"\\inside.txt").c_str()));
        }
        // Not committed: the list it had comes back; the folder stays.
        CHECK(IsDir(dir));
        CHECK((EveryoneMask(dir) & write) != 0);
        CHECK(console.Lines() == Lines{L"Rollback: restoring the previous access control of " + dir});
        HANDLE released = CreateFileW(dir.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        CHECK(released != INVALID_HANDLE_VALUE);
        if (released != INVALID_HANDLE_VALUE)
            CloseHandle(released);
    }
    SUBCASE("a link put where the folder was named, after the options were read")
    {
        Test::TempDir target;
        Test::WriteTextFile(target.Path() + L"\\keep.txt", "keep");
        Test::MakeLink(target.Path(), dir);
        Test::RunMode mode(false);
        TheInstallSettings().installDir = dir.c_str();
        Test::ConsoleCapture console;
        {
            SecuredInstallDir secured;
            CHECK(Test::ExitCodeOf([&] { secured.Secure(); }) == 101);
        }
        CHECK(console.Lines() == Lines{L"Refusing to install into '" + dir + L"': " + W(WString(kTargetIsLink)) +
                                       L", aborting"});
        CHECK(Test::ReadFileBytes(target.Path() + L"\\keep.txt") == "keep");
        Test::RemoveLink(dir);
    }
}

TEST_CASE("an access list that cannot be set: the reason is the system's text, whole")
{
    // Wine sets any directory's list (it does not keep it), so the reason is
    // checked where it is made. It once came out as a view into a destroyed
    // error object: 0xFE fill instead of text.
    wchar_t system[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SHARING_VIOLATION, 0,
                   system, 512, nullptr);
    std::wstring text = system;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    CHECK(W(UndoSecurity::SetFailureReason(ERROR_SHARING_VIOLATION)) ==
          L"SetNamedSecurityInfoW() failed: Windows error 32: " + text);
}

TEST_CASE("a volume without access control lists: one warning or question, then default security")
{
    // Run with drive Q: made a volume without ACLs (QUENDAL_CDROM_DRIVE=q).
    DWORD flags = 0;
    REQUIRE(GetVolumeInformationW(L"Q:\\", nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
    REQUIRE((flags & FS_PERSISTENT_ACLS) == 0);
    const std::wstring dir = L"Q:\\Quendal";
    const std::wstring m = L"Securing intallation directory failed: Access control is not supported by the "
                           L"underlaying file system.";
    SUBCASE("unattended: 108")
    {
        Test::RunMode mode(false);
        TheInstallSettings().installDir = dir.c_str();
        Test::ConsoleCapture console;
        SecuredInstallDir secured;
        CHECK(Test::ExitCodeOf([&] { secured.Secure(); }) == 108);
        CHECK(console.Lines() == Lines{m + L" (use /Force flag to override); aborting"});
        CHECK_FALSE(IsDir(dir));
    }
    SUBCASE("unattended with -force: one warning, then the directory")
    {
        Test::RunMode mode(false, true);
        TheInstallSettings().installDir = dir.c_str();
        Test::ConsoleCapture console;
        {
            SecuredInstallDir secured;
            secured.CheckAclSupport(); // as the installation sequence does early
            secured.Secure();
            CHECK(secured.Unsecured());
            CHECK(IsDir(dir));
            secured.Commit();
        }
        CHECK(console.Lines() == Lines{L"Warning: " + m});
        RemoveDirectoryW(dir.c_str());
    }
    SUBCASE("interactive: the question defaults to No; Yes goes on")
    {
        Test::RunMode mode(true);
        TheInstallSettings().installDir = dir.c_str();
        Test::ConsoleCapture console;
        Test::MessageBoxAnswerer yes(L"Securing installation directory failure", IDYES);
        {
            SecuredInstallDir secured;
            secured.Secure();
            CHECK(IsDir(dir));
        }
        CHECK(yes.Texts().size() == 1);
        CHECK(yes.DefaultButtons() == std::vector<int>{IDNO});
        CHECK(console.Lines() == Lines{L"Warning: " + m, L"Rollback: removing previously created " + dir});
        CHECK_FALSE(IsDir(dir));
    }
}

TEST_CASE("device names, with or without an extension, and names that only look like them")
{
    for (const wchar_t* name : {L"CON", L"con", L"PRN.txt", L"AUX", L"NUL.tar.gz", L"COM1", L"com9", L"LPT1",
                                L"lpt9.log", L"CONIN$", L"CONOUT$", L"nul ", L"Com3 .x"}) {
        CAPTURE(Test::Narrow(name));
        CHECK(IsReservedDeviceName(name));
    }
    for (const wchar_t* name : {L"", L"CONSOLE", L"COM10", L"COM0", L"LPT", L"NULL", L"xCON", L"AUX1", L"CONIN",
                                L"Quendal-CON", L"con-1.txt"}) {
        CAPTURE(Test::Narrow(name));
        CHECK_FALSE(IsReservedDeviceName(name));
    }
}
