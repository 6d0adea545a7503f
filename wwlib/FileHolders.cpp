#include "FileHolders.h"
#include "CanonicalPath.h"
#include "ProcessEnd.h"
#include "../nocrtlib/NoCrtCompare.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/datavect.h"
#include <windows.h>
#include <restartmanager.h>
#include <tlhelp32.h>

namespace WWLib {

namespace {

// The system's handle table, as NtQuerySystemInformation gives it
// (SystemExtendedHandleInformation, 64).
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTrace;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

void Add(NoCrtVector<FileHolder>& holders, unsigned long pid)
{
    for (std::size_t i = 0; i < holders.size(); ++i)
        if (holders[i].processId == pid)
            return;
    holders.push_back(FileHolder{pid, ProcessImagePath(pid)});
}

// Windows Vista and later: the Restart Manager knows handles and modules.
bool FromRestartManager(const WString& path, NoCrtVector<FileHolder>& holders)
{
    HMODULE rm = LoadLibraryExW(L"rstrtmgr.dll", nullptr, 0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    if (!rm)
        rm = LoadLibraryW(L"rstrtmgr.dll");
    if (!rm)
        return false;
    using Start = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using Register = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using List = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using End = DWORD(WINAPI*)(DWORD);
    auto start = reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(rm, "RmStartSession")));
    auto reg = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(rm, "RmRegisterResources")));
    auto list = reinterpret_cast<List>(reinterpret_cast<void*>(GetProcAddress(rm, "RmGetList")));
    auto end = reinterpret_cast<End>(reinterpret_cast<void*>(GetProcAddress(rm, "RmEndSession")));
    bool asked = false;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start && reg && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
        LPCWSTR files[] = {path.c_str()};
        if (reg(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            NoCrtDataVect<RM_PROCESS_INFO> info;
            UINT needed = 0, count = 0;
            DWORD reasons = 0;
            DWORD r = list(session, &needed, &count, nullptr, &reasons);
            if (r == ERROR_MORE_DATA && needed) {
                info.resize(needed);
                count = needed;
                r = list(session, &needed, &count, info.data(), &reasons);
            }
            if (r == ERROR_SUCCESS) {
                asked = true;
                for (UINT i = 0; i < count && i < info.size(); ++i)
                    if (info[i].Process.dwProcessId != GetCurrentProcessId())
                        Add(holders, info[i].Process.dwProcessId);
            }
        }
        end(session);
    }
    FreeLibrary(rm);
    return asked;
}

bool IdentityOf(const WString& path, BY_HANDLE_FILE_INFORMATION& info)
{
    NoCrtHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
    return file.valid() && GetFileInformationByHandle(file.get(), &info);
}

// Every process's open handles, compared with the files' identities.
void FromHandleTable(NoCrtVector<HeldPath>& held, const NoCrtDataVect<std::size_t>& wanted)
{
    NoCrtDataVect<BY_HANDLE_FILE_INFORMATION> targets;
    targets.resize(wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k)
        if (!IdentityOf(held[wanted[k]].path, targets[k]))
            targets[k].dwVolumeSerialNumber = 0, targets[k].nFileIndexHigh = targets[k].nFileIndexLow = 0xFFFFFFFF;
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return;
    NoCrtDataVect<BYTE> buffer;
    ULONG size = 1 << 16;
    LONG status = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        buffer.resize(size);
        ULONG needed = 0;
        status = query(64, buffer.data(), size, &needed); // SystemExtendedHandleInformation
        if (status != static_cast<LONG>(0xC0000004))      // STATUS_INFO_LENGTH_MISMATCH
            break;
        size = needed > size ? needed + (1 << 14) : size * 2;
    }
    if (status < 0)
        return;
    const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const std::size_t fit = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
    const ULONG_PTR self = GetCurrentProcessId();
    ULONG_PTR openPid = 0;
    NoCrtHandle process;
    for (std::size_t i = 0; i < table->count && i < fit; ++i) {
        const HandleEntry& e = table->entries[i];
        if (e.processId == self || e.processId == 0)
            continue;
        if (e.processId != openPid) {
            openPid = e.processId;
            process.reset(OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(e.processId)));
        }
        HANDLE copy = nullptr;
        if (!process.valid() || !DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(e.handle),
                                                 GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        NoCrtHandle dup(copy);
        // Only a disk file is asked who it is: a pipe's answer may never come.
        BY_HANDLE_FILE_INFORMATION info = {};
        if (GetFileType(copy) != FILE_TYPE_DISK || !GetFileInformationByHandle(copy, &info))
            continue;
        for (std::size_t k = 0; k < wanted.size(); ++k)
            if (SameIdentity(info, targets[k]))
                Add(held[wanted[k]].holders, static_cast<unsigned long>(e.processId));
    }
}

// Every process's loaded modules (its program among them).
void FromModules(NoCrtVector<HeldPath>& held)
{
    NoCrtHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid())
        return;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap.get(), &pe); more; more = Process32NextW(snap.get(), &pe)) {
        if (pe.th32ProcessID == GetCurrentProcessId() || pe.th32ProcessID == 0)
            continue;
        NoCrtHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pe.th32ProcessID));
        if (!modules.valid())
            continue;
        MODULEENTRY32W me = {};
        me.dwSize = sizeof(me);
        for (BOOL m = Module32FirstW(modules.get(), &me); m; m = Module32NextW(modules.get(), &me)) {
            // The name first: the canonical form asks the file system.
            const WString name(me.szModule);
            for (std::size_t k = 0; k < held.size(); ++k) {
                const WString& path = held[k].path;
                if (path.size() <= name.size() || path[path.size() - name.size() - 1] != L'\\' ||
                    !EqualNoCase(path.substr(path.size() - name.size()), name))
                    continue;
                if (EqualNoCase(CanonicalOrEmpty(WString(me.szExePath)), path))
                    Add(held[k].holders, pe.th32ProcessID);
            }
        }
    }
}

bool OpenAgainstDeletion(const WString& path)
{
    HANDLE h = CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    const DWORD err = GetLastError();
    return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
}

} // namespace

NoCrtVector<HeldPath> FindFileHolders(const WStringList& paths) noexcept
{
    NoCrtVector<HeldPath> held;
    try {
        NoCrtDataVect<std::size_t> unnamed;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            HeldPath& h = held.emplace_back();
            h.path = paths[i];
            h.openAgainstDeletion = OpenAgainstDeletion(paths[i]);
            if (h.openAgainstDeletion && !(FromRestartManager(paths[i], h.holders) && h.holders.size()))
                unnamed.push_back(i);
        }
        if (unnamed.size())
            FromHandleTable(held, unnamed);
        FromModules(held);
    } catch (...) {
    }
    return held;
}

} // namespace WWLib
