#include "../../steps/InstallSettings.h"
#include "../../steps/RegisterServer.h"
#include "../../steps/RegisterService.h"
#include "../../wwlib/ErrorText.h"
#include "../../wwlib/SilentExit.h"
#include "../../wwlib/SystemError.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/MessageBoxes.h"
#include "../support/RunMode.h"
#include <objbase.h>
#include <sddl.h>
#include <doctest/doctest.h>
#include <vector>

using Test::W;
using Lines = std::vector<std::wstring>;

namespace {

const wchar_t kCfgClsid[] = L"CLSID\\{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}";

// The package's programs as this build made them, copied into a folder of a
// site of the test's own.
struct InstalledPrograms {
    Test::TempDir dir{L"Quendal-Test"};
    std::wstring Copy(const wchar_t* name)
    {
        std::wstring from = Test::Env(L"QUENDAL_PACKAGE_PROGRAMS") + L"\\" + name;
        std::wstring to = dir.Path() + L"\\" + name;
        REQUIRE_MESSAGE(CopyFileW(from.c_str(), to.c_str(), FALSE), "copying " << Test::Narrow(from));
        return to;
    }
};

// A window program of the package, started and its window found.
struct WindowProgram {
    PROCESS_INFORMATION pi = {};
    HWND window = nullptr;
    WindowProgram(const std::wstring& path, const wchar_t* cls, const wchar_t* title)
    {
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring cmd = L"\"" + path + L"\"";
        REQUIRE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        for (int i = 0; i < 100 && !window; ++i, Sleep(100))
            window = FindWindowW(cls, title);
        REQUIRE(window);
    }
    ~WindowProgram()
    {
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    // Closes the window and gives the program's exit code.
    DWORD Close()
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 999;
        if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

// Makes the package's programs end with a code for a switch while it lives.
struct ForcedExit {
    explicit ForcedExit(const wchar_t* rule) { SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", rule); }
    ~ForcedExit() { SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", nullptr); }
};

struct Service {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = nullptr;
    explicit Service(const wchar_t* name) { svc = OpenServiceW(scm, name, SERVICE_ALL_ACCESS); }
    ~Service()
    {
        if (svc)
            CloseServiceHandle(svc);
        CloseServiceHandle(scm);
    }
    DWORD State()
    {
        SERVICE_STATUS s = {};
        return svc && QueryServiceStatus(svc, &s) ? s.dwCurrentState : 0;
    }
};

} // namespace

TEST_CASE("the server's service: registered, started, running, and gone after rollback")
{
    InstalledPrograms programs;
    std::wstring exe = programs.Copy(L"Quendal.exe");
    Test::RunMode mode(false);
    TheSiteName() = L"Quendal-Test";
    Test::ConsoleCapture console;
    CHECK_THROWS_AS(IsServiceRunning(), SystemError); // not there yet: the sequence counts that as not running
    {
        RegisterService step(exe.c_str());
        CHECK(step.Registered());
        CHECK(W(TheInstallSettings().uninstallParams) == L" \"-unregSvc=" + exe + L"\"");
        Service svc(L"Quendal-Test");
        REQUIRE(svc.svc);
        BYTE buf[8192];
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf);
        REQUIRE(QueryServiceConfigW(svc.svc, config, sizeof(buf), &needed));
        CHECK(config->dwStartType == SERVICE_AUTO_START);
        CHECK_FALSE(IsServiceRunning());
        StartSiteService();
        CHECK(Test::WaitForServiceState(L"Quendal-Test", SERVICE_RUNNING));
        CHECK(IsServiceRunning());
    }
    CHECK(console.Lines() ==
          Lines{L"Registering service " + exe, L"Rollback: unregistering previously registered service " + exe});
    CHECK(Service(L"Quendal-Test").svc == nullptr);
    try {
        StartSiteService();
        FAIL("no exception");
    } catch (const SystemError& e) {
        CHECK(W(e.Function()) == L"OpenService()");
        CHECK(e.Code() == ERROR_SERVICE_DOES_NOT_EXIST);
    }
    TheSiteName() = L"";
}

TEST_CASE("a service registration that fails")
{
    InstalledPrograms programs;
    std::wstring exe = programs.Copy(L"Quendal.exe");
    TheSiteName() = L"Quendal-Test";
    SUBCASE("unattended: 110")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        ForcedExit forced(L"Quendal.exe:-service=5");
        CHECK(Test::ExitCodeOf([&] { RegisterService step(exe.c_str()); }) == 110);
        CHECK(console.Lines() == Lines{L"Registering service " + exe,
                                       L"Service '" + exe +
                                           L"' registration failed: Error code 0x00000005 received, aborting"});
    }
    SUBCASE("-force: a warning, no parameter, nothing unregistered")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        ForcedExit forced(L"Quendal.exe:-service=5");
        {
            RegisterService step(exe.c_str());
            CHECK_FALSE(step.Registered());
        }
        CHECK(console.Lines() == Lines{L"Registering service " + exe,
                                       L"Warning: service '" + exe +
                                           L"' registration failed: Error code 0x00000005 received"});
        CHECK(TheInstallSettings().uninstallParams.empty());
    }
    SUBCASE("an unregistration that fails on rollback is reported")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            RegisterService step(exe.c_str());
            SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", L"Quendal.exe:/unregserver=3");
        }
        SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", nullptr);
        CHECK(console.Lines() == Lines{L"Registering service " + exe,
                                       L"Rollback: unregistering previously registered service " + exe,
                                       L"Unregistering service failed: Error code 0x00000003 received"});
        Service svc(L"Quendal-Test");
        CHECK(svc.svc != nullptr);
        if (svc.svc)
            DeleteService(svc.svc);
    }
    TheSiteName() = L"";
}

TEST_CASE("the COM server executable")
{
    InstalledPrograms programs;
    std::wstring exe = programs.Copy(L"QuendalCfgManip.exe");
    SUBCASE("registered and unregistered by the program itself")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            RegisterServer step(exe.c_str());
            CHECK(step.Registered());
            CHECK(Test::KeyExists(HKEY_CLASSES_ROOT, std::wstring(kCfgClsid) + L"\\LocalServer32"));
            CHECK(W(TheInstallSettings().uninstallParams) == L" \"-unregSvr=" + exe + L"\"");
        }
        CHECK_FALSE(Test::KeyExists(HKEY_CLASSES_ROOT, kCfgClsid));
        CHECK(console.Lines() == Lines{L"Registering server " + exe,
                                       L"Rollback: unregistering previously registered server " + exe});
    }
    SUBCASE("a path ending in .EXE in capitals is run too; a failure is 111")
    {
        std::wstring upper = exe.substr(0, exe.size() - 4) + L".EXE";
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        ForcedExit forced(L"QuendalCfgManip.exe:/RegServer=7");
        CHECK(Test::ExitCodeOf([&] { RegisterServer step(upper.c_str()); }) == 111);
        CHECK(console.Lines() == Lines{L"Registering server " + upper,
                                       L"Server " + upper + L" registration failed: Error code 0x00000007 received, "
                                                            L"aborting"});
    }
    SUBCASE("an unregistration that fails is reported")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            RegisterServer step(exe.c_str());
            SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", L"QuendalCfgManip.exe:/UnregServer=9");
        }
        SetEnvironmentVariableW(L"QUENDAL_FORCE_EXIT", nullptr);
        CHECK(console.Lines().back() == L"Unregister server failed: Error code 0x00000009 received");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kCfgClsid);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Quendal.CfgManip");
    }
}

TEST_CASE("a COM server DLL")
{
    std::wstring with = Test::OwnDirectory() + L"\\regtest_with.dll";
    std::wstring without = Test::OwnDirectory() + L"\\regtest_without.dll";
    SUBCASE("its DllRegisterServer is called, and DllUnregisterServer on rollback")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            RegisterServer step(with.c_str());
            CHECK(step.Registered());
            CHECK(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\Dll"));
        }
        CHECK_FALSE(Test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\Dll"));
    }
    SUBCASE("without the export: GetProcAddress() failed, and under -force no parameter")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        {
            RegisterServer step(without.c_str());
            CHECK_FALSE(step.Registered());
        }
        CHECK(console.Lines() == Lines{L"Registering server " + without,
                                       L"Warning: server " + without + L" registration failed: GetProcAddress() failed: " +
                                           W(WWLib::WindowsErrorText(127))});
        CHECK(TheInstallSettings().uninstallParams.empty());
    }
    SUBCASE("on a thread whose COM is set up otherwise, that set-up is left as it was")
    {
        // OleInitialize fails on a multithreaded thread; the step must not
        // undo an initialisation that is not its own. (Wine's OleUninitialize
        // ignores a call without an OleInitialize, so there only the
        // registration itself is proven; see docs/wine-differences.md.)
        REQUIRE(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK);
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        {
            RegisterServer step(with.c_str());
            CHECK(step.Registered());
            step.Commit();
        }
        CHECK(CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_FALSE); // still this thread's
        CoUninitialize();
        CoUninitialize();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuendalTest\\Dll");
    }
    SUBCASE("a DLL that is not there")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        std::wstring missing = Test::OwnDirectory() + L"\\no-such.dll";
        CHECK(Test::ExitCodeOf([&] { RegisterServer step(missing.c_str()); }) == 111);
        CHECK(console.Lines().back().find(L"registration failed: LoadLibraryW() failed: ") != std::wstring::npos);
    }
}

TEST_CASE("an auto-run value")
{
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    const wchar_t run[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    {
        RegisterAutoRun step(L"QuendalTray", L"\"C:\\Q\\tray.exe\" -quiet");
        wchar_t value[256] = {};
        DWORD size = sizeof(value);
        CHECK(RegGetValueW(HKEY_LOCAL_MACHINE, run, L"QuendalTray", RRF_RT_REG_SZ, nullptr, value, &size) == 0);
        CHECK(std::wstring(value) == L"\"C:\\Q\\tray.exe\" -quiet");
        CHECK(W(TheInstallSettings().uninstallParams) ==
              L" \"-delRegValue=HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\QuendalTray\"");
    }
    DWORD size = 0;
    CHECK(RegGetValueW(HKEY_LOCAL_MACHINE, run, L"QuendalTray", RRF_RT_ANY, nullptr, nullptr, &size) ==
          ERROR_FILE_NOT_FOUND);
    CHECK(console.Lines() ==
          Lines{L"Registering auto run QuendalTray", L"Rollback: unregistering previously registered auto run QuendalTray"});
}

TEST_CASE("starting the service after the installation; a failed start is only a warning")
{
    InstalledPrograms programs;
    std::wstring exe = programs.Copy(L"Quendal.exe");
    TheSiteName() = L"Quendal-Test";
    SUBCASE("started")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        RegisterService step(exe.c_str());
        StartServiceAfterInstall();
        CHECK(Test::WaitForServiceState(L"Quendal-Test", SERVICE_RUNNING));
        CHECK(console.Lines() == Lines{L"Registering service " + exe, L"Starting Quendal-Test service...",
                                       L"Quendal-Test service started successfully."});
    }
    SUBCASE("not there: a warning, and a box in an interactive run")
    {
        Test::RunMode mode(true);
        Test::ConsoleCapture console;
        Test::MessageBoxAnswerer ok(L"Service restart failure", IDOK);
        StartServiceAfterInstall();
        std::wstring error = L"Failed to start Quendal-Test service: OpenService() failed: " +
                             W(WWLib::WindowsErrorTextWithCode(ERROR_SERVICE_DOES_NOT_EXIST));
        CHECK(console.Lines() == Lines{L"Starting Quendal-Test service...", L"Warning: " + error});
        CHECK(ok.Texts() == Lines{error + L"\nPlease try starting service manually from Quendal Control Panel."});
    }
    TheSiteName() = L"";
}

TEST_CASE("the server's own installation command and the control panel")
{
    InstalledPrograms programs;
    std::wstring exe = programs.Copy(L"Quendal.exe");
    SUBCASE("-install makes the Config folder and imports a settings file")
    {
        std::wstring settings = programs.dir.Path() + L"\\..\\my settings.qst";
        Test::WriteTextFile(settings, "Port = 2222\r\n");
        Test::ChildResult r = Test::RunCaptured(L"\"" + exe + L"\" -install -force -settingsFile=\"" + settings + L"\"");
        CHECK(r.exitCode == 0);
        std::wstring imported = programs.dir.Path() + L"\\Config\\Quendal-Settings.qst";
        CHECK(GetFileAttributesW(imported.c_str()) != INVALID_FILE_ATTRIBUTES);
        Test::ChildResult missing = Test::RunCaptured(L"\"" + exe + L"\" -install -settingsFile=C:\\no\\such.qst");
        CHECK(missing.exitCode == ERROR_PATH_NOT_FOUND);
        // Settings the service would refuse are not imported: the old ones stay.
        Test::WriteTextFile(settings, "Port = 22\r\nColour = blue\r\n");
        Test::ChildResult invalid = Test::RunCaptured(L"\"" + exe + L"\" -install -settingsFile=\"" + settings + L"\"");
        CHECK(invalid.exitCode == ERROR_INVALID_DATA);
        CHECK(invalid.output.find("line 2: unknown setting 'Colour'") != std::string::npos);
        HANDLE kept = CreateFileW(imported.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(kept != INVALID_HANDLE_VALUE);
        char head[16] = {};
        DWORD got = 0;
        ReadFile(kept, head, sizeof(head) - 1, &got, nullptr);
        CloseHandle(kept);
        CHECK(std::string(head, got) == "Port = 2222\r\n");
    }
    SUBCASE("the control panel shows the service's state and starts it")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        TheSiteName() = L"Quendal-Test";
        RegisterService step(exe.c_str());
        WindowProgram panel(programs.Copy(L"srvctrl.exe"), L"QuendalControlPanel",
                            L"Korvane Quendal-Test Control Panel");
        wchar_t text[256] = {};
        GetDlgItemTextW(panel.window, 103, text, 256);
        CHECK(std::wstring(text) == L"Service Quendal-Test: stopped");
        SendMessageW(GetDlgItem(panel.window, 101), BM_CLICK, 0, 0);
        CHECK(Test::WaitForServiceState(L"Quendal-Test", SERVICE_RUNNING));
        CHECK(panel.Close() == 0);
        TheSiteName() = L"";
    }
    SUBCASE("the configuration program names its site's settings file and ends cleanly")
    {
        WindowProgram config(programs.Copy(L"srvcfg.exe"), L"QuendalConfiguration",
                             L"Korvane Quendal-Test Configuration");
        HWND text = FindWindowExW(config.window, nullptr, L"STATIC", nullptr);
        wchar_t shown[512] = {};
        GetWindowTextW(text, shown, 512);
        CHECK(std::wstring(shown) == L"Configuration: " + programs.dir.Path() + L"\\Config\\Quendal-Settings.qst");
        CHECK(config.Close() == 0);
    }
}

TEST_CASE("an auto-run value that cannot be written")
{
    // The Run key made read-only for everyone, this process included.
    const wchar_t run[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, run, 0, READ_CONTROL | WRITE_DAC, &key) == 0);
    BYTE saved[4096];
    DWORD savedSize = sizeof(saved);
    REQUIRE(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, saved, &savedSize) == 0);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                 nullptr));
    REQUIRE(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == 0);
    LocalFree(readOnly);
    int code;
    std::vector<std::wstring> lines;
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        code = Test::ExitCodeOf([] { RegisterAutoRun step(L"QuendalTray", L"tray.exe"); });
        lines = console.Lines();
    }
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, saved);
    RegCloseKey(key);
    CHECK(code == 111);
    CHECK(lines == Lines{L"Registering auto run QuendalTray",
                         L"Auto run QuendalTray registration failed: RegCreateKeyExW() failed: Windows error 5: " +
                             W(WWLib::WindowsErrorText(5)) + L", aborting"});
}
