#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

namespace WWLib {

// Holds one loaded library until destruction. Functions are looked up at every
// call, never cached, so a library that lacks one fails only where it is used.
class DllLoader : NoCopy {
public:
    DllLoader() = default;
    virtual ~DllLoader();

    // Loads by name, the system's usual search order. A failure throws
    // SystemError "LoadLibrary(<name>)" unless missing libraries are tolerated.
    void Load(const wchar_t* name, bool tolerateMissing);
    // Loads from the system directory only.
    void LoadFromSystemDirectory(const wchar_t* name, bool tolerateMissing);
    // A function's address; a missing one throws SystemError "GetProcAddress(<name>)".
    FARPROC GetProc(const char* name) const;
    HMODULE Handle() const { return m_hDll; }

    template <class Fn>
    Fn Proc(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProc(name)));
    }

protected:
    HMODULE m_hDll = nullptr;
};

class Kernel32Dll : public DllLoader {
public:
    Kernel32Dll();
    BOOL GetVolumePathNameW(const wchar_t* path, wchar_t* volume, DWORD size) const;
    // Windows Vista and later.
    DWORD GetFinalPathNameByHandleW(HANDLE file, wchar_t* path, DWORD size, DWORD flags) const;
};

// Functions that old systems lack, or that are bound late for the security code.
class Advapi32Dll : public DllLoader {
public:
    Advapi32Dll();
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, DWORD sub1, PSID* sid) const;
    PVOID FreeSid(PSID sid) const;
    BOOL IsValidSid(PSID sid) const;
    BOOL EqualSid(PSID a, PSID b) const;
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) const;
    BOOL GetTokenGroups(HANDLE token, void* info, DWORD size, DWORD* needed) const;
    BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL mask,
                                      SECURITY_DESCRIPTOR_CONTROL bits) const;
    BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL* control,
                                      DWORD* revision) const;
    LONG RegGetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd, DWORD* size) const;
    LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd) const;
};

class Shell32Dll : public DllLoader {
public:
    Shell32Dll();
    // With no owner window; a missing folder is created.
    BOOL SHGetSpecialFolderPathW(wchar_t* path, int folder) const;
};

// An elevated program must not load a library that someone put beside it or
// into the current folder (a Downloads folder, the temporary folder): from
// here on, libraries loaded by name, by this program or by the system's own
// libraries on its behalf, come from the system folder only. Where the
// system lacks that (before Windows 7 with KB2533623, bound at run time), at
// least the current folder leaves the search (SetDllDirectoryW, XP SP1 on).
// Called first thing; never throws. Returns whether the search is the system
// folder's alone.
bool RestrictDllSearch() noexcept;
// Loads a library named by its full path, its own folder searched for the
// libraries it needs (a package's server beside its libraries), whatever
// the process's search; null and the last error on failure.
HMODULE LoadLibraryWithItsFolder(const WString& path) noexcept;

// The process-wide loaders: created on first use, freed at exit.
const Advapi32Dll& ProcessAdvapi32();
const Kernel32Dll& ProcessKernel32();
// Loads the theming library for the process, tolerating its absence.
void LoadProcessUxtheme();
// Loads the Rich Edit 2.0 library for the process, once; kept until exit. It
// registers the window classes RichEdit20A and RichEdit20W. Failure throws.
void LoadProcessRichEdit();

} // namespace WWLib
