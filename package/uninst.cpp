// The product's uninstaller.
//
//   uninst.exe SITE [-unat] [-result=HEX -done=HEX] [-reinstall] [-skipUnregSvc] [-log=FILE]
//
// It loads the uninstall parameter list that the installation stored in the
// site's uninstall entry and removes what it names: it stops the service,
// ends the named programs, runs the program's own uninstall action,
// unregisters the service and the servers, deletes the registry values and
// keys, the files, and the directories innermost first. Nothing else is
// touched, so data the installation did not write (the server's Config
// folder) stays. A file in use is deleted at the next restart.
//
// It cannot delete itself while it runs: started from the installation
// directory it starts a copy of itself from the temporary folder with the
// same arguments; the copy does the work and has itself deleted at the next
// restart. With the installer's result channel (-result= and -done=, handle
// values the copy inherits) the first process ends at once with bit 0x1, and
// the copy writes its result into the shared block and signals the event.
// Without it (the uninstall entry's commands, which deployment tools run and
// judge by the exit code) the first process waits for the copy and ends with
// its result; the copy moves the waiting process's program file out of the
// way into the temporary folder, so that the installation folder goes now.
//
// Results with the channel: 0 success; 0x2 a restart is needed to finish;
// 0x20000 an unexpected failure; 0x40000 usage error; 0x80000 the
// uninstallation data could not be loaded (the site is not installed);
// 0x100000 another installation or removal of the product is running (run on
// its own, the uninstaller takes the installer's machine-wide lock; run by
// the installer, it works under the installer's). The exit code without the
// channel is the same, except that a restart needed to finish is 3010, the
// code deployment tools know for it (and which still carries bit 0x2).
//
// -log=FILE appends every line written to the console to FILE, after a first
// line naming the run and before a last line with the exit code.
#include "ForcedExit.h"
#include "UninstallScope.h"
#include "../wwlib/AdministratorsFolder.h"
#include "../wwlib/DllLoader.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/LogFile.h"
#include "../wwlib/Product.h"
#include "../wwlib/SystemError.h"
#include "../wwlib/MachineWideLock.h"
#include "../wwlib/SiteName.h"
#include "../wwlib/UninstallParams.h"
#include "ComClass.h"
#include "Win2000Api.h"
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

const DWORD kResultFollows = 0x1;
const DWORD kRestartNeeded = 0x2;
const DWORD kException = 0x20000;
const DWORD kUsage = 0x40000;
const DWORD kLoadFailed = 0x80000;
const DWORD kBusy = 0x100000;
const DWORD kExitRestartNeeded = 3010; // ERROR_SUCCESS_REBOOT_REQUIRED
// The folder its copy in the temporary folder runs from: "<prefix>-<number>".
const wchar_t kCopyFolderPrefix[] = L"Quendal Uninstall";
// The installer's names (wwlib/Product.h), as this program joins them.
const std::wstring kEntries = std::wstring(::kUninstallKey) + L"\\";

struct Options {
    std::wstring site;
    bool unattended = false;
    bool reinstall = false;
    bool skipUnregSvc = false;
    HANDLE result = nullptr;
    HANDLE done = nullptr;

    bool Channel() const { return result && done; }
};

struct Param {
    std::wstring name;
    std::wstring value;
};

bool g_feedback = false;
WWLib::LogFile* g_log = nullptr;

// One line to the console, and to the log when there is one.
void Print(const std::wstring& text)
{
    std::fwprintf(stdout, L"%ls\n", text.c_str());
    std::fflush(stdout);
    if (g_log)
        g_log->Line(WString(text.c_str()));
}

void Say(const std::wstring& text)
{
    if (g_feedback)
        Print(text);
}

// The program file of the process that started this one and waits for its
// result (the first uninstaller process, in the installation folder); empty
// when there is none.
std::wstring g_waitingParentImage;

std::wstring ReadEntry(const std::wstring& site, const wchar_t* value)
{
    return Package::ReadRegString(HKEY_LOCAL_MACHINE, kEntries + site, value);
}

// The entry's parameter list into its parameters, by the installer's own grammar.
std::vector<Param> ParseParams(const std::wstring& list)
{
    std::vector<Param> params;
    UninstallParams::ForEach(list, [&](const std::wstring& name, const std::wstring& value) {
        params.push_back({name, value});
    });
    return params;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return Package::Lower(a) == Package::Lower(b);
}

DWORD Run(const std::wstring& commandLine, const std::wstring& workDir)
{
    std::wstring cmd = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi))
        return GetLastError() | 0x80000000;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

// Stops the service and waits until its process has ended, not only until
// it says it stopped: a service process reports SERVICE_STOPPED before it
// exits, and its program file stays in use until it has.
void StopService(const std::wstring& name)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS running = {};
    DWORD needed = 0;
    HANDLE process = nullptr;
    if (svc && QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running), sizeof(running),
                                    &needed) &&
        running.dwProcessId)
        process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
    SERVICE_STATUS status = {};
    if (svc && ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
        Say(L"Stopping service " + name);
        for (int i = 0; i < 150 && QueryServiceStatus(svc, &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
        if (process)
            WaitForSingleObject(process, 15000);
    }
    if (process)
        CloseHandle(process);
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
}

void KillProcesses(const std::wstring& path)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
        if (pe.th32ProcessID == GetCurrentProcessId())
            continue;
        std::wstring image = Package::ProcessImagePath(pe.th32ProcessID);
        if (image.empty() || !SamePath(image, path))
            continue;
        HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID);
        if (!p)
            continue;
        Say(L"Ending " + path);
        TerminateProcess(p, 1);
        WaitForSingleObject(p, 5000);
        CloseHandle(p);
    }
    CloseHandle(snap);
}

// The program a service's command line starts, without its arguments.
std::wstring ServiceProgram(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == L'"') {
        std::size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return commandLine.substr(0, commandLine.find(L' '));
}

// The site's service deleted through the service control manager, for when
// its program cannot do it: the program is gone, or its unregistration
// failed. Only a service whose program lies in the site's folder is the
// site's; one that runs something else stays, and is said.
DWORD DeleteServiceByName(const std::wstring& name, const std::wstring& siteDir)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm) {
        Say(L"Unregistering service failed: " + std::wstring(WWLib::WindowsErrorTextWithCode(GetLastError()).c_str()));
        return kException;
    }
    SC_HANDLE svc = OpenServiceW(scm, name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    DWORD result = 0;
    if (!svc) {
        DWORD err = GetLastError();
        if (err != ERROR_SERVICE_DOES_NOT_EXIST) {
            Say(L"Unregistering service failed: " + std::wstring(WWLib::WindowsErrorTextWithCode(err).c_str()));
            result = kException;
        }
        CloseServiceHandle(scm);
        return result;
    }
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    std::wstring program;
    if (QueryServiceConfigW(svc, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed))
        program = ServiceProgram(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName);
    if (!SiteScope::Below(Package::UninstallScope::Full(program), Package::UninstallScope::Full(siteDir))) {
        Say(L"Left, not the site's: the service " + name + L" runs " + program);
    } else {
        Say(L"Deleting service " + name);
        SERVICE_STATUS status = {};
        ControlService(svc, SERVICE_CONTROL_STOP, &status);
        if (!DeleteService(svc)) {
            DWORD err = GetLastError();
            if (err == ERROR_SERVICE_MARKED_FOR_DELETE) {
                Say(L"The service is still in use and will be deleted when Windows restarts: " + name);
                result = kRestartNeeded;
            } else {
                Say(L"Unregistering service failed: " + std::wstring(WWLib::WindowsErrorTextWithCode(err).c_str()));
                result = kException;
            }
        }
    }
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return result;
}

// The server removes its own service and waits until it is gone. When its
// program is missing, or its removal fails, the service goes by name.
DWORD UnregisterService(const std::wstring& path, const std::wstring& name, const std::wstring& siteDir)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return DeleteServiceByName(name, siteDir);
    Say(L"Unregistering service " + path);
    DWORD code = Run(L"\"" + path + L"\" /unregserver", std::wstring());
    if (code == 0)
        return 0;
    if (code == ERROR_SERVICE_MARKED_FOR_DELETE) {
        // Held open by another program; Windows deletes it when that lets go,
        // at the latest at the next restart.
        Say(L"The service is still in use and will be deleted when Windows restarts: " + path);
        return kRestartNeeded;
    }
    // The server ends with a Windows error code; Run marks its own failure
    // to start the program with the high bit.
    Say(L"Unregistering service failed: " +
        std::wstring(WWLib::WindowsErrorTextWithCode(code & 0x7FFFFFFF).c_str()));
    return DeleteServiceByName(name, siteDir);
}

// What the server's own unregistration gives back counts: a class it did not
// remove still names the site's program.
DWORD UnregisterServer(const std::wstring& path)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 0; // an earlier removal got past it, or nothing was registered
    Say(L"Unregistering server " + path);
    std::wstring lower = Package::Lower(path);
    DWORD failure = 0;
    if (lower.size() > 4 && lower.substr(lower.size() - 4) == L".exe") {
        failure = Run(L"\"" + path + L"\" /UnregServer", std::wstring());
    } else if (HMODULE dll = WWLib::LoadLibraryWithItsFolder(WString(path.c_str()))) {
        using Entry = HRESULT(STDAPICALLTYPE*)();
        auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
        HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        failure = FAILED(hr) ? static_cast<DWORD>(hr) : 0;
        FreeLibrary(dll);
    } else {
        failure = GetLastError();
    }
    if (!failure)
        return 0;
    Say(L"Unregistering server failed: " + std::wstring(WWLib::WindowsErrorTextWithCode(failure & 0x7FFFFFFF).c_str()));
    return kException;
}

HKEY RootOf(const std::wstring& path, std::wstring& rest)
{
    std::size_t slash = path.find(L'\\');
    std::wstring root = slash == std::wstring::npos ? path : path.substr(0, slash);
    rest = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
    root = Package::Lower(root);
    if (root == L"hkey_local_machine" || root == L"hklm")
        return HKEY_LOCAL_MACHINE;
    if (root == L"hkey_current_user" || root == L"hkcu")
        return HKEY_CURRENT_USER;
    if (root == L"hkey_classes_root")
        return HKEY_CLASSES_ROOT;
    return nullptr;
}

void DeleteRegValue(const std::wstring& path)
{
    std::wstring rest;
    HKEY root = RootOf(path, rest);
    std::size_t slash = rest.rfind(L'\\');
    if (!root || slash == std::wstring::npos)
        return;
    Package::DeleteRegValue(root, rest.substr(0, slash), rest.substr(slash + 1));
}

void DeleteRegKey(const std::wstring& path)
{
    std::wstring rest;
    HKEY root = RootOf(path, rest);
    if (root && !rest.empty())
        Package::DeleteRegTree(root, rest);
}

// Deletes a file now, or at the next restart when it stays in use. Up to
// three seconds of retries first let a program that was just ended let go of
// its file (a busy machine ends processes slowly).
// The waiting first uninstaller's program file cannot be deleted while it
// waits, but it can be renamed: it goes into the temporary folder (on the
// same volume only; a move across volumes would be a copy and a delete), and
// from there at the next restart, which the removal then does not need.
bool MoveAsideIfWaitingParent(const std::wstring& path)
{
    if (g_waitingParentImage.empty() || !SamePath(path, g_waitingParentImage))
        return false;
    wchar_t temp[MAX_PATH + 1] = {}, aside[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, L"unq", 0, aside))
        return false;
    if (!MoveFileExW(path.c_str(), aside, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(aside);
        return false;
    }
    MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}

DWORD DeleteOrSchedule(const std::wstring& path, const std::wstring& top)
{
    // DeleteFileNotLink clears a read-only attribute: a file of the
    // installation made read-only since (by hand, by a copy tool) is still
    // the installation's own, and must not stop the removal.
    const bool link = WWLib::IsReparsePoint(WString(path.c_str()));
    DWORD err = 0;
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (WWLib::DeleteFileNotLink(WString(path.c_str()), WString(top.c_str())))
            return 0;
        err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return 0;
        if (err == ERROR_CANT_RESOLVE_FILENAME)
            break;
        if (!link && MoveAsideIfWaitingParent(path))
            return 0;
        Sleep(100);
    }
    if (link || err == ERROR_CANT_RESOLVE_FILENAME) {
        // What removes it at the restart may follow it.
        Say(L"Left, a link: " + path);
        return 0;
    }
    Say(L"Scheduling deletion on restart: " + path);
    MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return kRestartNeeded;
}

// The server's class is the machine's: when this site's tool removed it, the
// tool of a site that stays registers it again, so that the class is there
// while a site is, and names an installed site's program. The other site is
// taken from its entry only when its folder gives back its name.
void HandOverServerClass(const std::wstring& site)
{
    const std::wstring classKey = std::wstring(L"CLSID\\") + Package::kCfgClsid + L"\\LocalServer32";
    if (!Package::ReadRegString(HKEY_CLASSES_ROOT, classKey, nullptr).empty())
        return;
    HKEY entries;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ::kUninstallKey, 0, KEY_ENUMERATE_SUB_KEYS, &entries))
        return;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(entries, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring other(name, len);
        if (SamePath(other, site) || !SiteName::IsValid(other.c_str(), other.size()))
            continue;
        const std::wstring dir = ReadEntry(other, L"InstallDir");
        if (dir.empty() || !SamePath(Package::SiteOfDirectory(dir), other))
            continue;
        const std::wstring tool = dir + L"\\QuendalCfgManip.exe";
        if (GetFileAttributesW(tool.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        Say(L"Handing the server's class to " + other + L": " + tool);
        if (Run(L"\"" + tool + L"\" /RegServer", std::wstring()) == 0)
            break;
    }
    RegCloseKey(entries);
}

DWORD Uninstall(const Options& options, const std::vector<Param>& all, const std::wstring& entryDir)
{
    std::wstring workDir;
    for (const Param& p : all)
        if (SamePath(p.name, L"workDir"))
            workDir = p.value;
    // Only what belongs to the site is carried out; the rest is said and left.
    Package::UninstallScope scope(options.site, workDir, entryDir);
    if (!scope.WorkDirAccepted())
        Say(L"Skipped, not the site's own folder: -workDir=" + workDir);
    std::vector<Param> params;
    for (const Param& p : all) {
        if (scope.Allows(p.name, p.value))
            params.push_back(p);
        else
            Say(L"Skipped, outside the site: -" + p.name + L"=" + p.value);
    }
    auto each = [&params](const wchar_t* name, auto action) {
        for (const Param& p : params)
            if (SamePath(p.name, name))
                action(p.value);
    };
    each(L"stopSvc", [](const std::wstring& v) { StopService(v); });
    each(L"killProc", [](const std::wstring& v) { KillProcesses(v); });
    DWORD result = 0;
    each(L"execUninst", [&](const std::wstring& v) {
        if (GetFileAttributesW(v.c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        DWORD code = Run(L"\"" + v + L"\" -uninstall", workDir);
        if (code != 0) {
            Say(L"Failed: " + v + L" -uninstall: " +
                std::wstring(WWLib::WindowsErrorTextWithCode(code & 0x7FFFFFFF).c_str()));
            result |= kException;
        }
    });
    if (!options.skipUnregSvc)
        each(L"unregSvc", [&](const std::wstring& v) { result |= UnregisterService(v, options.site, workDir); });
    bool server = false;
    each(L"unregSvr", [&](const std::wstring& v) {
        result |= UnregisterServer(v);
        server = true;
    });
    if (server && !(result & kException))
        HandOverServerClass(options.site);
    // What is still registered needs the programs, and a removal run again
    // needs the entry and the uninstaller: all of it stays.
    if (result & kException) {
        Say(L"The removal did not finish: the files, the settings and the uninstall entry of " + options.site +
            L" stay, so that it can be run again");
        return result;
    }
    each(L"delRegValue", [](const std::wstring& v) { DeleteRegValue(v); });
    // The uninstall entry goes last: until then the removal can be run again.
    const std::wstring entryKey = L"HKEY_LOCAL_MACHINE\\" + kEntries + options.site;
    each(L"delRegKey", [&](const std::wstring& v) {
        if (!SamePath(v, entryKey))
            DeleteRegKey(v);
    });

    // A link put into the site since is removed as the link, never followed.
    auto topOf = [&](const std::wstring& v) {
        std::wstring top = Package::UninstallScope::Full(workDir);
        std::wstring full = Package::UninstallScope::Full(v);
        if (top.empty() || full.compare(0, top.size() + 1, top + L"\\") != 0)
            top = full.substr(0, full.rfind(L'\\'));
        return top;
    };
    auto throughLink = [&](const std::wstring& v) {
        if (!WWLib::ReachedThroughLink(WString(v.c_str()), WString(topOf(v).c_str())))
            return false;
        Say(L"Skipped, reached through a link: " + v);
        return true;
    };
    each(L"delFile", [&](const std::wstring& v) {
        if (throughLink(v))
            return;
        Say(L"Deleting " + v);
        DWORD r = DeleteOrSchedule(v, topOf(v));
        result |= r;
    });
    std::vector<std::wstring> dirs;
    each(L"delDir", [&](const std::wstring& v) { dirs.push_back(v); });
    // Innermost first: the parameters list the outermost directories first.
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        if (throughLink(*it))
            continue;
        Say(L"Removing " + *it);
        // A directory that still holds data the installation did not write
        // stays; one still in use by a program that is just ending (the first
        // uninstaller process) goes after a short wait.
        for (int attempt = 0; attempt < 20 && !RemoveDirectoryW(it->c_str()); ++attempt) {
            DWORD err = GetLastError();
            if (err == ERROR_DIR_NOT_EMPTY || err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
                break;
            Sleep(100);
        }
    }
    each(L"delRegKey", [&](const std::wstring& v) {
        if (SamePath(v, entryKey))
            DeleteRegKey(v);
    });
    return result;
}

// The installer's own folder for its journals and its lock; empty when the
// system names no all-users application data.
std::wstring SetupFolder()
{
    wchar_t data[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, data, CSIDL_COMMON_APPDATA, FALSE))
        return std::wstring();
    return std::wstring(data) + L"\\" + Product::kSetupFolder;
}

// The installer's journal of the site: a site that is removed has nothing
// left for a later installation to undo, and a journal left behind would make
// that installation undo the files it finds.
void RemoveInstallJournal(const std::wstring& site)
{
    if (site.empty() || site.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos || site == L"." || site == L"..")
        return;
    Package::DeleteRegValue(HKEY_LOCAL_MACHINE, std::wstring(kProductKey) + L"\\" + site, L"InstallJournal");
    const std::wstring dir = SetupFolder();
    if (!dir.empty()) {
        // Someone else's link there is not the installer's folder: a
        // deletion through it would reach what it points at.
        if (WWLib::IsReparsePoint(WString(dir.c_str())))
            return;
        DeleteFileW((dir + L"\\" + site + L".journal").c_str());
        RemoveDirectoryW(dir.c_str()); // only when no other site's journal is there
    }
}

bool ParseArguments(int argc, wchar_t** argv, Options& options)
{
    if (argc < 2 || argv[1][0] == L'-')
        return false;
    // The stored command and the shortcut name the site unquoted, so a site
    // whose name holds spaces arrives as several arguments: every argument
    // before the first option is part of the name.
    int i = 1;
    options.site = argv[i++];
    for (; i < argc && argv[i][0] != L'-'; ++i)
        options.site += std::wstring(L" ") + argv[i];
    for (; i < argc; ++i) {
        std::wstring arg = argv[i];
        std::wstring lower = Package::Lower(arg);
        if (lower == L"-unat")
            options.unattended = true;
        else if (lower == L"-reinstall")
            options.reinstall = true;
        else if (lower == L"-skipunregsvc")
            options.skipUnregSvc = true;
        else if (lower.rfind(L"-result=", 0) == 0)
            options.result = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(arg.c_str() + 8, nullptr, 16)));
        else if (lower.rfind(L"-done=", 0) == 0)
            options.done = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(arg.c_str() + 6, nullptr, 16)));
        else if (lower.rfind(L"-log=", 0) == 0 && arg.size() > 5)
            continue; // opened by wmain before anything else (LogOption)
        else
            return false;
    }
    return true;
}

// The log that -log= names, looked for also on a command line that is
// otherwise wrong, so that a usage error is logged too.
std::wstring LogOption(int argc, wchar_t** argv)
{
    std::wstring log;
    for (int i = 1; i < argc; ++i)
        if (Package::Lower(std::wstring(argv[i], std::min<std::size_t>(5, std::wcslen(argv[i])))) == L"-log=")
            log = argv[i] + 5;
    return log;
}

// Hands the result to whoever waits on the channel; gives the exit code.
DWORD Report(const Options& options, DWORD result)
{
    if (options.Channel()) {
        if (void* view = MapViewOfFile(options.result, FILE_MAP_WRITE, 0, 0, 4)) {
            *static_cast<volatile DWORD*>(view) = result;
            UnmapViewOfFile(view);
        }
        SetEvent(options.done);
        return result;
    }
    return result != 0 && result <= 0xFFFF && (result & kRestartNeeded) ? kExitRestartNeeded : result;
}

// Started from the installation directory: run a temporary copy instead.
// With the channel this process ends at once (bit 0x1); without it, it waits
// for the copy and gives the copy's exit code.
bool RelaunchFromTemp(const Options& options, int argc, wchar_t** argv, DWORD& exitCode)
{
    wchar_t self[MAX_PATH * 2] = {}, temp[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring dir = Package::OwnDirectory();
    if (SamePath(dir + L"\\", temp))
        return false;
    // Any user may put files in the system's temporary folder: the copy goes
    // into a folder of its own that only administrators may write, as a new
    // file, and is held without write sharing until it has started.
    std::wstring folder;
    try {
        folder = WWLib::AdministratorsFolder::MakeNew(WString(temp), kCopyFolderPrefix).c_str();
    } catch (const SystemError&) {
        return false;
    }
    std::wstring target = folder + L"\\uninst.exe";
    if (!CopyFileW(self, target.c_str(), TRUE)) {
        RemoveDirectoryW(folder.c_str());
        return false;
    }
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        DeleteFileW(target.c_str());
        RemoveDirectoryW(folder.c_str());
        return false;
    }
    NoCrtHandle hold(held);
    std::wstring cmd = L"\"" + target + L"\"";
    for (int i = 1; i < argc; ++i)
        cmd += std::wstring(L" \"") + argv[i] + L"\"";
    // Out of the installation folder, which the copy removes: a process's
    // current directory keeps its folder from being removed.
    SetCurrentDirectoryW(temp);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, temp, &si, &pi)) {
        hold.reset();
        DeleteFileW(target.c_str());
        RemoveDirectoryW(folder.c_str());
        return false;
    }
    hold.reset();
    CloseHandle(pi.hThread);
    exitCode = kResultFollows;
    if (!options.Channel()) {
        // Ctrl+C reaches the copy as well, which decides what it means; set
        // only now, as a child would inherit it.
        SetConsoleCtrlHandler(nullptr, TRUE);
        WaitForSingleObject(pi.hProcess, INFINITE);
        if (!GetExitCodeProcess(pi.hProcess, &exitCode))
            exitCode = kException;
    }
    CloseHandle(pi.hProcess);
    return true;
}

// The first uninstaller process that started this copy and waits for it:
// the parent, when its program file is the installation folder's copy of
// this program.
std::wstring WaitingParentImage(const std::wstring& installDir)
{
    DWORD parent = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return std::wstring();
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe))
        if (pe.th32ProcessID == GetCurrentProcessId())
            parent = pe.th32ParentProcessID;
    CloseHandle(snap);
    if (!parent || installDir.empty())
        return std::wstring();
    std::wstring image = Package::ProcessImagePath(parent);
    std::size_t slash = image.rfind(L'\\');
    if (slash == std::wstring::npos || !SamePath(image.substr(0, slash), installDir))
        return std::wstring();
    return image;
}

int Main(int argc, wchar_t** argv, const Options& options, bool parsed)
{
    if (!parsed)
        return static_cast<int>(Report(options, kUsage));
    std::wstring installDir = ReadEntry(options.site, L"InstallDir");
    std::wstring list = ReadEntry(options.site, L"UninstallParam");
    if (list.empty())
        return static_cast<int>(Report(options, kLoadFailed));

    if (!installDir.empty() && SamePath(Package::OwnDirectory(), installDir)) {
        DWORD code = 0;
        if (RelaunchFromTemp(options, argc, argv, code))
            return static_cast<int>(code);
    } else if (!options.Channel()) {
        g_waitingParentImage = WaitingParentImage(installDir);
    }
    std::wstring title = L"Korvane " + options.site + L" Uninstallation";
    WWLib::MachineWideLock lock;
    bool busy = false;
    try {
        const std::wstring folder = SetupFolder();
        busy = !options.Channel() && !folder.empty() &&
               !lock.TryTake(Product::kSetupLock, WString((folder + L"\\" + Product::kSetupLockFile).c_str()));
        for (std::size_t i = 0; i < lock.Notes().size(); ++i)
            Print(lock.Notes()[i].c_str());
    } catch (...) {
        // No lock to be had at all: the removal goes on as it did without one.
    }
    if (busy) {
        const wchar_t busy[] = L"Another installation or removal of Quendal is running on this computer; try again "
                               L"when it has finished.";
        Print(busy);
        if (!options.unattended)
            MessageBoxW(nullptr, busy, title.c_str(), MB_OK | MB_ICONERROR);
        return static_cast<int>(kBusy);
    }
    if (!options.unattended) {
        std::wstring question = L"Do you want to remove Korvane " + options.site + L" from this computer?";
        if (MessageBoxW(nullptr, question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
            return static_cast<int>(Report(options, 0));
    }
    DWORD result;
    try {
        std::vector<Param> params = ParseParams(list);
        for (const Param& p : params)
            if (SamePath(p.name, L"feedback") && SamePath(p.value, L"yes"))
                g_feedback = true;
        result = Uninstall(options, params, installDir);
        // Run by the installer, the journal is that installer's, open and in
        // use; a removal that did not finish keeps it for the next run.
        if (!options.Channel() && !(result & kException))
            RemoveInstallJournal(options.site);
    } catch (...) {
        result = kException;
    }
    // The copy in the temporary folder goes at the next restart.
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    if (installDir.empty() || !SamePath(Package::OwnDirectory(), installDir)) {
        MoveFileExW(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        // Its folder after it, when it is the one made for the copy.
        const std::wstring own = Package::OwnDirectory();
        const std::wstring name = own.substr(own.rfind(L'\\') + 1);
        if (name.compare(0, std::wcslen(kCopyFolderPrefix) + 1, std::wstring(kCopyFolderPrefix) + L"-") == 0)
            MoveFileExW(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    if (!options.unattended) {
        std::wstring text = result == 0 ? L"Korvane " + options.site + L" was removed."
                            : result & kRestartNeeded
                                ? L"Korvane " + options.site + L" was removed. Some files will be deleted when Windows "
                                                               L"restarts."
                                : L"Korvane " + options.site + L" could not be removed completely.";
        MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | (result > 0xFFFF ? MB_ICONERROR : MB_ICONINFORMATION));
    }
    return static_cast<int>(Report(options, result));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Its copy runs from the temporary folder, where anyone may put a library.
    WWLib::RestrictDllSearch();
    Package::ApplyForcedExit(argc, argv);
    Options options;
    const bool parsed = ParseArguments(argc, argv, options);
    std::unique_ptr<WWLib::LogFile> log;
    const std::wstring logPath = LogOption(argc, argv);
    if (!logPath.empty()) {
        try {
            log.reset(new WWLib::LogFile(WString(logPath.c_str())));
            log->Started(WString(Product::kMakerPrefix) + Product::kName + L" " + Product::kVersion + L" uninstaller");
            g_log = log.get();
        } catch (const SystemError& e) {
            // As the installer does: a log asked for and not to be had is a
            // usage error, before anything is changed.
            Print(L"Cannot open the log file '" + logPath + L"': " +
                  std::wstring(WWLib::WindowsErrorText(e.Code()).c_str()));
            return static_cast<int>(Report(options, kUsage));
        }
    }
    const int code = Main(argc, argv, options, parsed);
    if (log)
        log->Ended(static_cast<unsigned long>(code));
    return code;
}
