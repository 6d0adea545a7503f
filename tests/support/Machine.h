#pragma once
// Fixtures that put a piece of the machine into a known state and take it out
// again: a registry key tree, a temporary folder, a child process whose output
// is captured.
#include "../../nocrtlib/NoCrtString.h"
#include <windows.h>
#include <string>
#include <vector>

namespace Test {

// Deletes the key tree at construction and at destruction.
class ScopedRegKey {
public:
    ScopedRegKey(HKEY root, const std::wstring& subkey);
    ~ScopedRegKey();
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    void SetString(const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ) const;
    void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD bytes) const;
    void SetDword(const std::wstring& name, DWORD value) const;
    // Creates a subkey and returns its path.
    std::wstring Sub(const std::wstring& name) const;
    const std::wstring& Path() const { return subkey_; }

private:
    HKEY root_;
    std::wstring subkey_;
};

// A fresh folder under the temporary directory, removed with its contents.
class TempDir {
public:
    explicit TempDir(const std::wstring& name = L"");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring root_;
    std::wstring path_;
};

void DeleteTree(const std::wstring& path);
// A symbolic link at `link` to `target` (a folder or a file), and its removal
// (the link alone). Under Wine, whose own call makes none, a Unix link made
// with ln: Wine shows it as a reparse point when it points at a folder, and
// as a plain file when it points at a file.
void MakeLink(const std::wstring& target, const std::wstring& link);
// Starts a program and lets it run on its own (a Unix program started
// through Wine gives no handle to wait for anyway).
void StartDetached(const std::wstring& commandLine);
void RemoveLink(const std::wstring& link);
void WriteTextFile(const std::wstring& path, const std::string& bytes);
// A file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

struct ChildResult {
    DWORD exitCode = 0;
    std::string output;   // the bytes written to standard output
    std::wstring text;    // the same, decoded from UTF-8
};

// A child process with standard output and error captured through a pipe,
// for tests that work with its windows while it runs. One still running when
// the object goes is terminated.
class CapturedChild {
public:
    // `creationFlags` go to CreateProcess (CREATE_NEW_PROCESS_GROUP, ...).
    explicit CapturedChild(const std::wstring& commandLine, DWORD creationFlags = 0);
    ~CapturedChild();
    CapturedChild(const CapturedChild&) = delete;
    CapturedChild& operator=(const CapturedChild&) = delete;
    HANDLE Process() const { return pi_.hProcess; }
    // Reads what the child writes until a line that begins with `text` has
    // come (true), or the child ended or `timeoutMs` passed (false). What was
    // read is kept for Wait.
    bool WaitForLine(const std::wstring& text, DWORD timeoutMs = 60000);
    // Waits for the end (at most `timeoutMs`; a child still running then is
    // terminated and the test fails) and gives what it wrote.
    ChildResult Wait(DWORD timeoutMs = 60000);

private:
    std::wstring commandLine_;
    HANDLE readEnd_ = nullptr;
    PROCESS_INFORMATION pi_ = {};
    std::string output_;
};

// Waits until a process whose program file has this name (case ignored) runs.
bool WaitForProcess(const std::wstring& exeName, DWORD timeoutMs = 30000);
// Ends every process whose program file has this name (case ignored);
// returns how many were ended.
int KillProcesses(const std::wstring& exeName);

// Runs a command line with standard output and error captured and waits for it.
ChildResult RunCaptured(const std::wstring& commandLine, DWORD timeoutMs = 60000);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);
inline std::wstring W(const WString& s) { return std::wstring(s.c_str(), s.size()); }
bool KeyExists(HKEY root, const std::wstring& path);
// A REG_SZ value, or "(none)" when there is none.
std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* name);
// The current state of a service (SERVICE_RUNNING, ...); 0 when there is none.
DWORD ServiceState(const wchar_t* name);
// Waits up to thirty seconds for a service to reach a state.
bool WaitForServiceState(const wchar_t* name, DWORD state);
// The process the service runs in; 0 when it does not run.
DWORD ServiceProcessId(const wchar_t* name);
// Moves the cursor and waits until the system reports it there: Wine moves
// the X pointer and reports the move when the X server has made it (a busy
// machine made a test read the place from before). False after two seconds.
bool MoveCursor(int x, int y);

// The operations pending for the next restart, each string as it is stored
// (a source, then a target: empty for a deletion).
std::vector<std::wstring> PendingRestartOperations();
// Removes every operation pending for the next restart.
void ClearPendingRestartOperations();
// Wine's own restart: wineboot carries out the pending operations.
void RestartWine();

// The directory of the running test program.
std::wstring OwnDirectory();
// An environment variable, or empty.
std::wstring Env(const wchar_t* name);

// Whether this test program runs as a 32-bit process on 64-bit Windows
// (WOW64): then it sees the 32-bit registry view and Program Files (x86), and
// the package's 64-bit files are the ones written.
bool UnderWow64();
// One string of a file's version resource (its US English block), or
// "(none)" when the file has no such value.
std::wstring VersionValue(const std::wstring& path, const wchar_t* name);
// The machine type a PE file was built for (IMAGE_FILE_MACHINE_...), or 0.
WORD MachineOf(const std::wstring& path);
// What Windows' own Authenticode check finds in a file.
enum class SignatureState { None, Intact, Broken };
SignatureState SignatureOf(const std::wstring& path);
// Whether this build signs what ships (the tests then expect signatures).
#ifdef QUENDAL_SIGNED_BUILD
constexpr SignatureState kShippedSignature = SignatureState::Intact;
#else
constexpr SignatureState kShippedSignature = SignatureState::None;
#endif
// The machine type of this test program.
constexpr WORD kOwnMachine = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;

} // namespace Test
