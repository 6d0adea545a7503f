#include "DllLoader.h"
#include "SystemError.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtPath.h"

namespace WWLib {

DllLoader::~DllLoader()
{
    if (m_hDll) {
        NoCrtLastErrorKeeper keep;
        FreeLibrary(m_hDll);
    }
    m_hDll = nullptr;
}

void DllLoader::Load(const wchar_t* name, bool tolerateMissing)
{
    NoCrtAssert(!m_hDll);
    m_hDll = LoadLibraryW(name);
    if (!m_hDll && !tolerateMissing) {
        DWORD err = GetLastError();
        throw SystemError(WString(L"LoadLibrary(") + name + L")", err);
    }
}

void DllLoader::LoadFromSystemDirectory(const wchar_t* name, bool tolerateMissing)
{
    NoCrtAssert(!m_hDll);
    wchar_t dir[261] = {};
    UINT n = GetSystemDirectoryW(dir, 261);
    if (n == 0 || n >= 261) {
        // A result of 261 or more is the size needed: nothing was written.
        DWORD err = n ? ERROR_INSUFFICIENT_BUFFER : GetLastError();
        if (tolerateMissing)
            return;
        throw SystemError(L"GetSystemDirectory()", err);
    }
    Load(PathJoin(dir, name).c_str(), tolerateMissing);
}

FARPROC DllLoader::GetProc(const char* name) const
{
    FARPROC p = GetProcAddress(m_hDll, name);
    if (!p) {
        DWORD err = GetLastError();
        throw SystemError(L"GetProcAddress(" + N2W(CP_UTF8, name) + L")", err);
    }
    return p;
}

Kernel32Dll::Kernel32Dll()
{
    LoadFromSystemDirectory(L"Kernel32.dll", false);
}

BOOL Kernel32Dll::GetVolumePathNameW(const wchar_t* path, wchar_t* volume, DWORD size) const
{
    return Proc<BOOL(WINAPI*)(LPCWSTR, LPWSTR, DWORD)>("GetVolumePathNameW")(path, volume, size);
}

DWORD Kernel32Dll::GetFinalPathNameByHandleW(HANDLE file, wchar_t* path, DWORD size, DWORD flags) const
{
    return Proc<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD)>("GetFinalPathNameByHandleW")(file, path, size, flags);
}

Advapi32Dll::Advapi32Dll()
{
    LoadFromSystemDirectory(L"Advapi32.dll", false);
}

BOOL Advapi32Dll::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, DWORD sub1, PSID* sid) const
{
    using Fn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                             DWORD, PSID*);
    return Proc<Fn>("AllocateAndInitializeSid")(authority, 2, 32, sub1, 0, 0, 0, 0, 0, 0, sid);
}

PVOID Advapi32Dll::FreeSid(PSID sid) const
{
    return Proc<PVOID(WINAPI*)(PSID)>("FreeSid")(sid);
}

BOOL Advapi32Dll::IsValidSid(PSID sid) const
{
    return Proc<BOOL(WINAPI*)(PSID)>("IsValidSid")(sid);
}

BOOL Advapi32Dll::EqualSid(PSID a, PSID b) const
{
    return Proc<BOOL(WINAPI*)(PSID, PSID)>("EqualSid")(a, b);
}

BOOL Advapi32Dll::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) const
{
    return Proc<BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE)>("OpenProcessToken")(process, access, token);
}

BOOL Advapi32Dll::GetTokenGroups(HANDLE token, void* info, DWORD size, DWORD* needed) const
{
    using Fn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    return Proc<Fn>("GetTokenInformation")(token, TokenGroups, info, size, needed);
}

BOOL Advapi32Dll::SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL mask,
                                               SECURITY_DESCRIPTOR_CONTROL bits) const
{
    using Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);
    return Proc<Fn>("SetSecurityDescriptorControl")(sd, mask, bits);
}

BOOL Advapi32Dll::GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, SECURITY_DESCRIPTOR_CONTROL* control,
                                               DWORD* revision) const
{
    using Fn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSECURITY_DESCRIPTOR_CONTROL, LPDWORD);
    return Proc<Fn>("GetSecurityDescriptorControl")(sd, control, revision);
}

LONG Advapi32Dll::RegGetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd,
                                    DWORD* size) const
{
    using Fn = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, LPDWORD);
    return Proc<Fn>("RegGetKeySecurity")(key, info, sd, size);
}

LONG Advapi32Dll::RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd) const
{
    using Fn = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
    return Proc<Fn>("RegSetKeySecurity")(key, info, sd);
}

Shell32Dll::Shell32Dll()
{
    LoadFromSystemDirectory(L"shell32.dll", false);
}

BOOL Shell32Dll::SHGetSpecialFolderPathW(wchar_t* path, int folder) const
{
    return Proc<BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL)>("SHGetSpecialFolderPathW")(nullptr, path, folder, TRUE);
}

const Advapi32Dll& ProcessAdvapi32()
{
    static Advapi32Dll dll;
    return dll;
}

const Kernel32Dll& ProcessKernel32()
{
    static Kernel32Dll dll;
    return dll;
}

void LoadProcessUxtheme()
{
    static DllLoader uxtheme, msimg32;
    if (!uxtheme.Handle())
        uxtheme.LoadFromSystemDirectory(L"Uxtheme.dll", true);
    // The theming library loads this one by name on its first drawing (a
    // delay load), which on systems without a restricted search (and under
    // Wine even with one) looks beside the program first: loaded from the
    // system folder now, that load finds it loaded.
    if (!msimg32.Handle())
        msimg32.LoadFromSystemDirectory(L"msimg32.dll", true);
}

} // namespace WWLib

namespace WWLib {

void LoadProcessRichEdit()
{
    static DllLoader richEdit;
    if (!richEdit.Handle())
        richEdit.LoadFromSystemDirectory(L"RICHED20.DLL", false);
}

namespace {

bool g_searchRestricted = false;

// A kernel32 function of a later Windows, or null where the system lacks it.
template <class Fn>
Fn LaterKernel32Function(const char* name) noexcept
{
    try {
        return ProcessKernel32().Proc<Fn>(name);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

bool RestrictDllSearch() noexcept
{
    const DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (auto setDefault = LaterKernel32Function<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories"))
        g_searchRestricted = setDefault(kSearchSystem32) != FALSE;
    if (!g_searchRestricted)
        if (auto setDirectory = LaterKernel32Function<BOOL(WINAPI*)(LPCWSTR)>("SetDllDirectoryW"))
            setDirectory(L"");
    return g_searchRestricted;
}

HMODULE LoadLibraryWithItsFolder(const WString& path) noexcept
{
    const DWORD kSearchDllLoadDir = 0x00000100; // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
    const DWORD kSearchSystem32 = 0x00000800;
    // With the restricted search the flags name the places; without it, the
    // altered search path puts the library's folder first.
    return LoadLibraryExW(path.c_str(), nullptr,
                          g_searchRestricted ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace WWLib
