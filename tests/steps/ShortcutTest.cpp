#include "../../steps/CreateShortcut.h"
#include "../../steps/InstallSettings.h"
#include "../../wwlib/CCom.h"
#include "../../wwlib/SilentExit.h"
#include "../support/Console.h"
#include "../support/Machine.h"
#include "../support/RunMode.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <vector>

using Test::W;
using Lines = std::vector<std::wstring>;
using namespace WWLib;

namespace {

// What a saved link holds, read back through the shell-link object.
struct LinkInfo {
    std::wstring target, arguments, workingDir, description, icon;
    int iconIndex = -1;
};

LinkInfo ReadLink(const std::wstring& path)
{
    LinkInfo info;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    REQUIRE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link))));
    IPersistFile* file = nullptr;
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    REQUIRE(SUCCEEDED(file->Load(path.c_str(), STGM_READ)));
    wchar_t buf[MAX_PATH] = {};
    link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH);
    info.target = buf;
    buf[0] = 0;
    link->GetArguments(buf, MAX_PATH);
    info.arguments = buf;
    buf[0] = 0;
    link->GetWorkingDirectory(buf, MAX_PATH);
    info.workingDir = buf;
    buf[0] = 0;
    link->GetDescription(buf, MAX_PATH);
    info.description = buf;
    buf[0] = 0;
    link->GetIconLocation(buf, MAX_PATH, &info.iconIndex);
    info.icon = buf;
    file->Release();
    link->Release();
    CoUninitialize();
    return info;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int ExitOf(const std::wstring& link)
{
    try {
        CreateShortcut s(link.c_str(), L"C:\\x.exe", L"", L"", L"", L"");
        s.Commit();
    } catch (const SilentExit& e) {
        return e.Code();
    }
    return -1;
}

// A shell-link stand-in that offers no other interface, to see a failed query.
struct LoneLink : IShellLinkW {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR, int, WIN32_FIND_DATAW*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR) override { return E_NOTIMPL; }
};

struct LoneLinkHolder : CComCls<IShellLinkW, 1> {
    explicit LoneLinkHolder(LoneLink* link)
    {
        link->AddRef();
        p_ = link;
    }
};

} // namespace

TEST_CASE("COM helpers")
{
    SUBCASE("initialising twice on one thread: S_FALSE counts as success")
    {
        CComInit<0> outer;
        CHECK(outer.Succeeded());
        {
            CComInit<0> inner;
            CHECK(inner.Succeeded());
            CHECK(inner.Value() == S_FALSE);
        }
        // The inner holder undid only its own initialisation.
        CHECK(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_FALSE);
        CoUninitialize();
    }
    SUBCASE("the shell link and its persist-file interface")
    {
        CComInit<0> com;
        CComClsT<IShellLinkW> link;
        CHECK(link.Get() != nullptr);
        CComClsN<IPersistFile> file(link);
        CHECK(file.Succeeded());
        CHECK(file.Get() != nullptr);
    }
    SUBCASE("a failed query is recorded, not thrown")
    {
        LoneLink lone;
        {
            LoneLinkHolder holder(&lone);
            CComClsN<IPersistFile> file(holder);
            CHECK(file.Failed());
            CHECK(file.Get() == nullptr);
            CHECK(std::wstring(file.Name().p) == L"IShellLinkW::QueryInterface(IPersistFile)");
            CHECK(lone.refs == 2);
        }
        CHECK(lone.refs == 1); // the holder released what it held
    }
    SUBCASE("creation without COM initialised fails and throws")
    {
        try {
            CComClsT<IShellLinkW> link;
            FAIL("no exception");
        } catch (const ComException& e) {
            CHECK(W(e.OperationName()) == L"CoCreateInstance(IShellLinkW)");
            CHECK(W(e.Message()).rfind(L"CoCreateInstance(IShellLinkW) failed: COM error 0x", 0) == 0);
        }
    }
}

TEST_CASE("a shortcut is saved, read back, and removed on rollback")
{
    Test::TempDir dir;
    Test::RunMode mode(false);
    Test::ConsoleCapture console;
    std::wstring link = dir.Path() + L"\\Tool.lnk";
    {
        CreateShortcut s(link.c_str(), L"C:\\Q\\srvctrl.exe", L"Quendal-A", L"C:\\Q", L"Korvane Tool",
                         L"C:\\Q\\icons.dll");
        CHECK(s.Created());
        LinkInfo info = ReadLink(link);
        CHECK(info.target == L"C:\\Q\\srvctrl.exe");
        CHECK(info.arguments == L"Quendal-A");
        CHECK(info.workingDir == L"C:\\Q");
        CHECK(info.description == L"Korvane Tool");
        CHECK(info.icon == L"C:\\Q\\icons.dll");
        CHECK(info.iconIndex == 0);
        CHECK(W(TheInstallSettings().uninstallParams) == L" \"-delFile=" + link + L"\"");
    }
    CHECK_FALSE(Exists(link));
    CHECK(console.Lines() == Lines{L"Creating shortcut " + link, L"Rollback: removing previously created shortcut " + link});

    // Without an icon the target's own is used.
    {
        CreateShortcut s(link.c_str(), L"C:\\Q\\srvctrl.exe", L"", L"", L"", L"");
        s.Commit();
    }
    CHECK(ReadLink(link).icon == L"C:\\Q\\srvctrl.exe");

    // One that was there before comes back whole on rollback, not deleted.
    const std::string previous = Test::ReadFileBytes(link);
    {
        CreateShortcut s(link.c_str(), L"C:\\Other\\srvctrl.exe", L"", L"", L"", L"");
        CHECK(ReadLink(link).target == L"C:\\Other\\srvctrl.exe");
    }
    CHECK(Test::ReadFileBytes(link) == previous);
    CHECK(console.Lines().back() == L"Rollback: restoring the previous shortcut " + link);
}

TEST_CASE("a shortcut that cannot be saved")
{
    Test::TempDir dir;
    std::wstring link = dir.Path() + L"\\missing folder\\Tool.lnk";
    SUBCASE("unattended: 105")
    {
        Test::RunMode mode(false);
        Test::ConsoleCapture console;
        CHECK(ExitOf(link) == 105);
        CHECK(console.Lines() == Lines{L"Creating shortcut " + link,
                                       L"Creating shortcut '" + link + L"' failed: IPersistFile::Save() failed, aborting"});
    }
    SUBCASE("-force: a warning and no uninstall parameter")
    {
        Test::RunMode mode(false, true);
        Test::ConsoleCapture console;
        CHECK(ExitOf(link) == -1);
        CHECK(console.Lines() == Lines{L"Creating shortcut " + link,
                                       L"Warning: creating shortcut '" + link + L"' failed: IPersistFile::Save() failed"});
        CHECK(TheInstallSettings().uninstallParams.empty());
    }
}

TEST_CASE("the installation's shortcuts")
{
    Test::TempDir dir(L"Korvane Quendal-Test");
    Test::RunMode mode(false);
    InstallSettings& settings = TheInstallSettings();
    settings.installDir = L"C:\\Sites\\Quendal-Test";
    settings.uninstallerPath = L"C:\\Sites\\Quendal-Test\\uninst.exe";
    TheSiteName() = L"Quendal-Test";
    wchar_t admin[MAX_PATH] = {};
    REQUIRE(SHGetSpecialFolderPathW(nullptr, admin, CSIDL_COMMON_ADMINTOOLS, TRUE));
    const std::wstring d = dir.Path();
    const std::wstring adminLink = std::wstring(admin) + L"\\Quendal-Test Control Panel.lnk";
    Test::ConsoleCapture console;
    {
        CreateShortcutPlan plan(d.c_str());
        LinkInfo panel = ReadLink(d + L"\\Quendal-Test Control Panel.lnk");
        CHECK(panel.target == L"C:\\Sites\\Quendal-Test\\srvctrl.exe");
        CHECK(panel.arguments == L"");
        CHECK(panel.workingDir == L"C:\\Sites\\Quendal-Test");
        CHECK(panel.description == L"Korvane Quendal-Test 5.18 Control Panel");
        LinkInfo uninstall = ReadLink(d + L"\\Uninstall Quendal-Test.lnk");
        CHECK(uninstall.target == L"C:\\Sites\\Quendal-Test\\uninst.exe");
        CHECK(uninstall.arguments == L"Quendal-Test");
        CHECK(uninstall.description == L"Uninstall Korvane Quendal 5.18");
        LinkInfo tools = ReadLink(adminLink);
        CHECK(tools.target == L"C:\\Sites\\Quendal-Test\\srvctrl.exe");
        CHECK(tools.description == L"Korvane Quendal 5.18 Control Panel");
        console.Clear();
    }
    // Rolled back in the order 1, 2, 3.
    CHECK(console.Lines() ==
          Lines{L"Rollback: removing previously created shortcut " + d + L"\\Quendal-Test Control Panel.lnk",
                L"Rollback: removing previously created shortcut " + d + L"\\Uninstall Quendal-Test.lnk",
                L"Rollback: removing previously created shortcut " + adminLink});
    CHECK_FALSE(Exists(adminLink));
    TheSiteName() = L"";
}

TEST_CASE("without the shell's folder function there is no Administrative Tools shortcut on later Windows")
{
    // An Internet Explorer older than 4.71.1712 means a shell without the
    // folder function; Wine reports Windows 7, where the folder is then not
    // derived from the Programs folder.
    HKEY ie;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0, KEY_SET_VALUE, &ie) == 0);
    const wchar_t old[] = L"4.71.1000";
    RegSetValueExW(ie, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof(old));
    RegCloseKey(ie);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                       L"Common Administrative Tools");

    Test::TempDir dir;
    Test::RunMode mode(false);
    TheInstallSettings().installDir = L"C:\\Q";
    TheInstallSettings().uninstallerPath = L"C:\\Q\\uninst.exe";
    TheSiteName() = L"Quendal";
    Test::ConsoleCapture console;
    {
        CreateShortcutPlan plan(dir.Path().c_str());
        CHECK(plan.Shortcut(0)->Created());
        CHECK(plan.Shortcut(1)->Created());
        CHECK(plan.Shortcut(2) == nullptr);
        plan.Commit();
    }
    CHECK(console.Lines().size() == 2);
    TheSiteName() = L"";
}
