#include "Machine.h"
#include <doctest/doctest.h>
#include <shlobj.h>
#include <softpub.h>
#include <wintrust.h>
#include <tlhelp32.h>
#include <vector>

namespace Test {

ScopedRegKey::ScopedRegKey(HKEY root, const std::wstring& subkey) : root_(root), subkey_(subkey)
{
    RegDeleteTreeW(root_, subkey_.c_str());
    HKEY key;
    REQUIRE(RegCreateKeyExW(root_, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    RegCloseKey(key);
}

ScopedRegKey::~ScopedRegKey()
{
    RegDeleteTreeW(root_, subkey_.c_str());
}

void ScopedRegKey::SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD bytes) const
{
    HKEY key;
    REQUIRE(RegOpenKeyExW(root_, subkey_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS);
    LONG r = RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type, static_cast<const BYTE*>(data),
                            bytes);
    RegCloseKey(key);
    REQUIRE(r == ERROR_SUCCESS);
}

void ScopedRegKey::SetString(const std::wstring& name, const std::wstring& value, DWORD type) const
{
    SetRaw(name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void ScopedRegKey::SetDword(const std::wstring& name, DWORD value) const
{
    SetRaw(name, REG_DWORD, &value, sizeof(value));
}

std::wstring ScopedRegKey::Sub(const std::wstring& name) const
{
    std::wstring path = subkey_ + L"\\" + name;
    HKEY key;
    REQUIRE(RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    RegCloseKey(key);
    return path;
}

TempDir::TempDir(const std::wstring& name)
{
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    static unsigned counter;
    root_ = std::wstring(tmp) + L"quendal-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    path_ = name.empty() ? root_ : root_ + L"\\" + name;
    DeleteTree(root_);
    REQUIRE(SHCreateDirectoryExW(nullptr, path_.c_str(), nullptr) == ERROR_SUCCESS);
}

TempDir::~TempDir()
{
    DeleteTree(root_);
}

namespace {

// Wine's name of a Windows path on the Unix side; empty on Windows.
std::string UnixName(const std::wstring& path)
{
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn)
        return std::string();
    char* name = fn(path.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix program through Wine, which gives no handle to wait for:
// done is when `done` says so.
template <class Done>
void RunUnix(const std::wstring& command, Done done)
{
    StartDetached(command);
    for (int i = 0; i < 500 && !done(); ++i)
        Sleep(20);
    REQUIRE_MESSAGE(done(), Narrow(command));
}

} // namespace

void StartDetached(const std::wstring& commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
}

void MakeLink(const std::wstring& target, const std::wstring& link)
{
    std::string unixTarget = UnixName(target), unixLink = UnixName(link);
    if (unixTarget.empty()) {
        DWORD attrs = GetFileAttributesW(target.c_str());
        REQUIRE(CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                    (attrs & FILE_ATTRIBUTE_DIRECTORY) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0));
        return;
    }
    RunUnix(L"Z:\\bin\\ln -s \"" + Widen(unixTarget) + L"\" \"" + Widen(unixLink) + L"\"",
            [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

void RemoveLink(const std::wstring& link)
{
    std::string unixLink = UnixName(link);
    if (unixLink.empty()) {
        if (!RemoveDirectoryW(link.c_str()))
            DeleteFileW(link.c_str());
        return;
    }
    RunUnix(L"Z:\\bin\\rm -f \"" + Widen(unixLink) + L"\"",
            [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

void DeleteTree(const std::wstring& path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return;
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(path); // never into what a link points at
        return;
    }
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..")
                DeleteTree(path + L"\\" + name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got)
        bytes.append(buf, got);
    CloseHandle(f);
    return bytes;
}

void WriteTextFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    DWORD done;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(h);
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

CapturedChild::CapturedChild(const std::wstring& commandLine, DWORD creationFlags) : commandLine_(commandLine)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE writeEnd;
    // Room for everything a child writes while the test is busy with its windows.
    REQUIRE(CreatePipe(&readEnd_, &writeEnd, &sa, 1 << 20));
    SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    // Standard input is a pipe already at its end, so a child that waits for a
    // key goes on at once.
    HANDLE inRead, inWrite;
    REQUIRE(CreatePipe(&inRead, &inWrite, &sa, 0));
    CloseHandle(inWrite);
    si.hStdInput = inRead;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    // Seen once under Wine: a start refused while the prefix's own services
    // were still starting. A second try a moment later goes through.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt)
            Sleep(1000);
        started =
            CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, creationFlags, nullptr, nullptr, &si, &pi_);
        startError = started ? 0 : GetLastError();
    }
    CloseHandle(writeEnd);
    CloseHandle(inRead);
    if (!started) {
        CloseHandle(readEnd_);
        readEnd_ = nullptr;
        FAIL("CreateProcessW failed with " << startError << " for: " << Narrow(commandLine));
    }
}

CapturedChild::~CapturedChild()
{
    if (pi_.hProcess) {
        if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi_.hProcess, 999);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }
    if (readEnd_)
        CloseHandle(readEnd_);
}

bool CapturedChild::WaitForLine(const std::wstring& text, DWORD timeoutMs)
{
    const std::string wanted = "\n" + Narrow(text);
    char buf[4096];
    DWORD n = 0, avail = 0;
    for (DWORD waited = 0;; waited += 20) {
        while (PeekNamedPipe(readEnd_, nullptr, 0, nullptr, &avail, nullptr) && avail &&
               ReadFile(readEnd_, buf, sizeof(buf), &n, nullptr) && n)
            output_.append(buf, n);
        if (("\n" + output_).find(wanted) != std::string::npos)
            return true;
        if (waited >= timeoutMs || WaitForSingleObject(pi_.hProcess, 20) == WAIT_OBJECT_0)
            return false;
    }
}

std::wstring VersionValue(const std::wstring& path, const wchar_t* name)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size)
        return L"(none)";
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return L"(none)";
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return L"(none)";
    return std::wstring(value, length && !value[length - 1] ? length - 1 : length);
}

bool WaitForProcess(const std::wstring& exeName, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE)
            return false;
        PROCESSENTRY32W pe = {};
        pe.dwSize = sizeof(pe);
        bool found = false;
        for (BOOL more = Process32FirstW(snap, &pe); more && !found; more = Process32NextW(snap, &pe))
            found = _wcsicmp(pe.szExeFile, exeName.c_str()) == 0;
        CloseHandle(snap);
        if (found)
            return true;
        Sleep(100);
    }
    return false;
}

int KillProcesses(const std::wstring& exeName)
{
    int killed = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe)) {
        if (_wcsicmp(pe.szExeFile, exeName.c_str()) != 0)
            continue;
        HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID);
        if (!p)
            continue;
        if (TerminateProcess(p, 999)) {
            WaitForSingleObject(p, 10000);
            ++killed;
        }
        CloseHandle(p);
    }
    CloseHandle(snap);
    // Wine signals a terminated process before its Unix side has let go of
    // the program's file: a moment more, and the file can be replaced.
    if (killed)
        Sleep(1500);
    return killed;
}

ChildResult CapturedChild::Wait(DWORD timeoutMs)
{
    ChildResult result;
    result.output = output_;
    char buf[4096];
    DWORD n = 0, avail = 0;
    // Read while the child runs, and what is left once it ended. Waiting for
    // the end of the pipe instead would wait for every process that inherited
    // it, among them Wine's desktop process, which the child may start.
    DWORD waited = 0, wait = WAIT_TIMEOUT;
    for (;;) {
        while (PeekNamedPipe(readEnd_, nullptr, 0, nullptr, &avail, nullptr) && avail &&
               ReadFile(readEnd_, buf, sizeof(buf), &n, nullptr) && n)
            result.output.append(buf, n);
        if (wait == WAIT_OBJECT_0 || waited >= timeoutMs)
            break;
        wait = WaitForSingleObject(pi_.hProcess, 20);
        waited += 20;
    }
    if (wait != WAIT_OBJECT_0)
        TerminateProcess(pi_.hProcess, 999);
    GetExitCodeProcess(pi_.hProcess, &result.exitCode);
    REQUIRE_MESSAGE(wait == WAIT_OBJECT_0, "child did not end: " << Narrow(commandLine_));
    result.text = Widen(result.output);
    return result;
}

ChildResult RunCaptured(const std::wstring& commandLine, DWORD timeoutMs)
{
    CapturedChild child(commandLine);
    return child.Wait(timeoutMs);
}

std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* name)
{
    std::vector<wchar_t> buf(32768);
    DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf.data(), &size))
        return L"(none)";
    return buf.data();
}

bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY h;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h))
        return false;
    RegCloseKey(h);
    return true;
}

std::vector<std::wstring> PendingRestartOperations()
{
    std::vector<std::wstring> entries;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      &key))
        return entries;
    std::vector<wchar_t> data(32768);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    LONG r = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (r)
        return entries;
    std::size_t n = size / sizeof(wchar_t);
    if (n >= 2 && data[n - 2] == 0)
        --n;
    for (std::size_t pos = 0; pos < n;) {
        std::wstring s(data.data() + pos);
        entries.push_back(s);
        pos += s.size() + 1;
    }
    return entries;
}

void ClearPendingRestartOperations()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                      &key) == 0) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
        RegCloseKey(key);
    }
}

void RestartWine()
{
    ChildResult r = RunCaptured(L"C:\\windows\\system32\\wineboot.exe --restart", 120000);
    REQUIRE(r.exitCode == 0);
}

DWORD ServiceState(const wchar_t* name)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, name, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS s = {};
    DWORD state = svc && QueryServiceStatus(svc, &s) ? s.dwCurrentState : 0;
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return state;
}

DWORD ServiceProcessId(const wchar_t* name)
{
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, name, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    const bool read = svc && QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                  sizeof(status), &needed);
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return read && status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

bool WaitForServiceState(const wchar_t* name, DWORD state)
{
    // Generous: a loaded machine starts Wine's service processes slowly.
    for (int i = 0; i < 300; ++i, Sleep(100))
        if (ServiceState(name) == state)
            return true;
    return false;
}

std::wstring OwnDirectory()
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p(path, n);
    return p.substr(0, p.rfind(L'\\'));
}

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[4096];
    DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return n && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

WORD MachineOf(const std::wstring& path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    std::string head(4096, '\0');
    DWORD got = 0;
    ReadFile(f, &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
    CloseHandle(f);
    head.resize(got);
    if (head.size() < sizeof(IMAGE_DOS_HEADER) || head.compare(0, 2, "MZ") != 0)
        return 0;
    LONG pe = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data())->e_lfanew;
    if (pe < 0 || static_cast<std::size_t>(pe) + 6 > head.size() || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    return *reinterpret_cast<const WORD*>(head.data() + pe + 4);
}

SignatureState SignatureOf(const std::wstring& path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<DWORD>(result)) {
    case 0:
    // The build's throw-away test CA is trusted nowhere; the signature and the
    // digest were still read and matched.
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return SignatureState::Intact;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
        return SignatureState::None;
    default:
        return SignatureState::Broken;
    }
}

bool UnderWow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

bool MoveCursor(int x, int y)
{
    if (!SetCursorPos(x, y))
        return false;
    for (int i = 0; i < 200; ++i) {
        POINT at;
        if (GetCursorPos(&at) && at.x == x && at.y == y)
            return true;
        Sleep(10);
    }
    return false;
}

} // namespace Test
