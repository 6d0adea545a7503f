#include "../../steps/ShellFolders.h"
#include "../../wwlib/InstallError.h"
#include "../../wwlib/Sid.h"
#include "../support/Machine.h"
#include <doctest/doctest.h>
#include <shlobj.h>

using Test::W;

namespace {

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE);
    return path;
}

} // namespace

TEST_CASE("shell folders come from the shell when it has the function")
{
    CHECK(W(GetProgramFilesDir()) == ShellFolder(CSIDL_PROGRAM_FILES));
    CHECK(W(GetProgramsDir()) == ShellFolder(CSIDL_PROGRAMS));
    CHECK(W(GetCommonProgramsDir()) == ShellFolder(CSIDL_COMMON_PROGRAMS));
    std::wstring admin = W(GetCommonAdminToolsDir());
    CHECK(admin == ShellFolder(CSIDL_COMMON_ADMINTOOLS));
    CHECK(GetFileAttributesW(admin.c_str()) != INVALID_FILE_ATTRIBUTES); // created when missing
}

TEST_CASE("without the shell's function the registry answers")
{
    // An Internet Explorer version older than 4.71.1712 means a shell without
    // SHGetSpecialFolderPathW: the queries must fall back to the registry.
    HKEY ie;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, &ie) == 0);
    wchar_t saved[80] = {};
    DWORD size = sizeof(saved);
    REQUIRE(RegQueryValueExW(ie, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size) == 0);
    const wchar_t old[] = L"4.71.1000";
    RegSetValueExW(ie, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof(old));

    Test::ScopedRegKey hklmFolders(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\unused");
    HKEY shell;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &shell, nullptr) == 0);
    const wchar_t admin[] = L"C:\\FromRegistry\\Admin Tools";
    const wchar_t common[] = L"C:\\FromRegistry\\Common Programs";
    RegSetValueExW(shell, L"Common Administrative Tools", 0, REG_SZ, reinterpret_cast<const BYTE*>(admin),
                   sizeof(admin));
    RegSetValueExW(shell, L"Common Programs", 0, REG_SZ, reinterpret_cast<const BYTE*>(common), sizeof(common));

    std::wstring programFiles = W(GetProgramFilesDir());
    std::wstring adminTools = W(GetCommonAdminToolsDir());
    std::wstring commonPrograms = W(GetCommonProgramsDir());

    // A user's Programs folder that comes back empty: the all-users one,
    // never a path relative to the current directory; without that either,
    // a failure.
    HKEY user;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user, nullptr) == 0);
    RegSetValueExW(user, L"Programs", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    std::wstring programsEmpty = W(GetProgramsDir());

    RegDeleteValueW(shell, L"Common Administrative Tools");
    RegDeleteValueW(shell, L"Common Programs");
    std::wstring adminWithout = W(GetCommonAdminToolsDir());
    bool noPrograms = false;
    try {
        GetProgramsDir();
    } catch (const InstallError& e) {
        noPrograms = W(e.Message()) == L"The Programs folder of the Start menu cannot be found";
    }
    RegCloseKey(user);
    RegCloseKey(shell);
    RegSetValueExW(ie, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved), size);
    RegCloseKey(ie);

    wchar_t pf[MAX_PATH] = {};
    DWORD pfSize = sizeof(pf);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir",
                 RRF_RT_REG_SZ, nullptr, pf, &pfSize);
    CHECK(programFiles == pf);
    CHECK(adminTools == admin);
    CHECK(commonPrograms == common);
    // Without the value, the Administrative Tools folder is derived only on
    // Windows 2000 and XP; Wine reports a later version, so there is none.
    CHECK(adminWithout == L"");
    CHECK(programsEmpty == common);
    CHECK(noPrograms);
}

TEST_CASE("the Start-menu folder goes to all users for LocalSystem, to the user's Programs for anyone else")
{
    // Under Wine every process, a service's too, has the one user's token,
    // so the decision is taken here on the SIDs themselves, with the real
    // folder lookups.
    CHECK(W(StartMenuProgramsDirFor(Sid::LocalSystem().Get())) == ShellFolder(CSIDL_COMMON_PROGRAMS));
    CHECK(W(StartMenuProgramsDirFor(Sid::ProcessUser().Get())) == ShellFolder(CSIDL_PROGRAMS));
    CHECK(W(StartMenuProgramsDirFor(Sid::Administrators().Get())) == ShellFolder(CSIDL_PROGRAMS));
    CHECK(ShellFolder(CSIDL_COMMON_PROGRAMS) != ShellFolder(CSIDL_PROGRAMS));
    // This process's own answer is its token user's.
    const bool system = Sid::LocalSystem().Equals(Sid::ProcessUser().Get());
    CHECK(W(GetStartMenuProgramsDir()) == ShellFolder(system ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS));
}
