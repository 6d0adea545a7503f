#!/usr/bin/env python3
"""Refuses executables that import functions Windows 2000 does not have.

A Windows program that imports a function its system lacks does not start at
all: the loader refuses it before the first instruction. The setup program and
the package's programs must start on Windows 2000 (the setup program has to be
able to say that a system is too old), so whatever is newer is bound at run
time. This reads the import tables of the given PE files and fails on any
name of the list below: the functions of later Windows versions that a MinGW
build is likely to pick up.

With --known-dlls it checks instead that the files import from no library
but those Windows (2000 on) always loads from its own folder, its "known
DLLs": a program that runs from a folder anyone can write to (the installer
from Downloads, the uninstaller's copy from the temporary folder) would
otherwise load a library put beside it before its first instruction.

    usage: check-imports.py [--known-dlls] FILE.exe|FILE.dll ...
"""
import re
import struct
import sys

# Functions that came with Windows XP, Server 2003 or Vista, by DLL.
LATER = {
    "kernel32.dll": """
        AddVectoredExceptionHandler RemoveVectoredExceptionHandler AddVectoredContinueHandler
        RemoveVectoredContinueHandler QueryFullProcessImageNameA QueryFullProcessImageNameW
        GetNativeSystemInfo IsWow64Process Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection
        GetModuleHandleExA GetModuleHandleExW AttachConsole GetConsoleProcessList GetSystemTimes
        SetDllDirectoryA SetDllDirectoryW GetDllDirectoryA GetDllDirectoryW InitializeCriticalSectionEx
        InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
        ReleaseSRWLockShared InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
        WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce InitOnceBeginInitialize
        InitOnceComplete GetTickCount64 CreateSymbolicLinkW GetFinalPathNameByHandleW CreateEventExW
        CreateMutexExW CreateSemaphoreExW FlsAlloc FlsFree FlsGetValue FlsSetValue EncodePointer
        DecodePointer HeapSetInformation GetLogicalProcessorInformation SetThreadStackGuarantee GetProcessId
        GetThreadId CompareStringEx LCMapStringEx GetLocaleInfoEx GetUserDefaultLocaleName
        CheckRemoteDebuggerPresent GetVolumePathNamesForVolumeNameW RtlCaptureContext CreateFile2
        GetFileInformationByHandleEx SetFileInformationByHandle GetCurrentProcessorNumber
        RegisterApplicationRestart WerRegisterRuntimeExceptionModule GetErrorMode QueryDepthSList
        InterlockedPushListSList GetSystemTimePreciseAsFileTime GetSystemWow64DirectoryW
        GetSystemWow64DirectoryA
    """,
    "advapi32.dll": """
        RegGetValueA RegGetValueW RegDeleteTreeA RegDeleteTreeW RegDeleteKeyValueA RegDeleteKeyValueW
        RegSetKeyValueA RegSetKeyValueW RegDeleteKeyExA RegDeleteKeyExW RegCopyTreeW RegCopyTreeA
        RegLoadMUIStringW RegOpenKeyTransactedW RegCreateKeyTransactedW RegDisablePredefinedCacheEx
        CreateWellKnownSid IsWellKnownSid EventRegister EventUnregister EventWrite
        RegDisableReflectionKey RegEnableReflectionKey RegQueryReflectionKey
    """,
    "user32.dll": """
        PrintWindow SetProcessDPIAware IsProcessDPIAware ChangeWindowMessageFilter
        ChangeWindowMessageFilterEx ShutdownBlockReasonCreate ShutdownBlockReasonDestroy
        AddClipboardFormatListener RemoveClipboardFormatListener RegisterRawInputDevices GetRawInputData
        GetLayeredWindowAttributes
    """,
    "shell32.dll": """
        SHGetKnownFolderPath SHGetKnownFolderIDList SHCreateItemFromParsingName SHGetStockIconInfo
        SHOpenFolderAndSelectItems SHGetPropertyStoreFromParsingName
    """,
    "msvcrt.dll": """
        _fstat64 _stat64 _wstat64 _time64 _localtime64 _gmtime64 _mktime64 _ctime64 _wctime64
        _findfirst64 _findnext64 _wfindfirst64 _wfindnext64 _futime64 _utime64 _wutime64 _ftime64
        _difftime64 _get_errno _set_errno _get_output_format _set_output_format _aligned_malloc
        _aligned_free _aligned_realloc _vscprintf _vscwprintf _resetstkoflw _fseeki64 _ftelli64
        _create_locale _free_locale _wcstoi64 _wcstoui64 _strtoi64 _strtoui64 __iob_func
    """,
}
LATER = {dll: set(names.split()) for dll, names in LATER.items()}
# Msvcrt's secure (_s) and locale (_l) variants came with the Vista run-time.
LATER_PATTERNS = {"msvcrt.dll": re.compile(r"^[A-Za-z_]\w*_s$|^_\w+_l$")}


def rva_to_offset(sections, rva):
    for virtual, size, raw in sections:
        if virtual <= rva < virtual + size:
            return rva - virtual + raw
    raise ValueError(f"RVA {rva:#x} lies in no section")


def imports(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: not a PE file")
    sections_count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    pe32plus = magic == 0x20B
    directories = optional + (112 if pe32plus else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    sections = []
    for i in range(sections_count):
        s = optional + optional_size + 40 * i
        vsize, virtual, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((virtual, max(vsize, rawsize), raw))
    result = []
    if not import_rva:
        return result
    descriptor = rva_to_offset(sections, import_rva)
    thunk_size, ordinal_bit = (8, 1 << 63) if pe32plus else (4, 1 << 31)
    while True:
        lookup, _, _, name_rva, first = struct.unpack_from("<IIIII", data, descriptor)
        if not name_rva:
            break
        dll_at = rva_to_offset(sections, name_rva)
        dll = data[dll_at:data.index(b"\0", dll_at)].decode("ascii").lower()
        thunk = rva_to_offset(sections, lookup or first)
        while True:
            entry = struct.unpack_from("<Q" if pe32plus else "<I", data, thunk)[0]
            if not entry:
                break
            if not entry & ordinal_bit:
                at = rva_to_offset(sections, entry & 0x7FFFFFFF) + 2
                result.append((dll, data[at:data.index(b"\0", at)].decode("ascii")))
            thunk += thunk_size
        descriptor += 20
    return result


# Known DLLs on every Windows version from 2000 on (ntdll is always the system's).
KNOWN_DLLS = {"ntdll.dll", "kernel32.dll", "advapi32.dll", "gdi32.dll", "user32.dll", "shell32.dll", "ole32.dll",
              "oleaut32.dll", "comdlg32.dll", "rpcrt4.dll", "msvcrt.dll"}


def check_known_dlls(paths):
    refused = 0
    for path in paths:
        dlls = sorted({dll for dll, _ in imports(path)})
        others = [dll for dll in dlls if dll not in KNOWN_DLLS]
        for dll in others:
            print(f"{path}: imports from {dll}, which Windows may load from the program's own folder")
        refused += len(others) + (0 if dlls else 1)
        print(f"{path}: imports from {', '.join(dlls) or 'nothing read'}")
    return refused


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    if sys.argv[1] == "--known-dlls":
        sys.exit(1 if check_known_dlls(sys.argv[2:]) else 0)
    refused = 0
    for path in sys.argv[1:]:
        found = imports(path)
        if not found:
            print(f"{path}: no imports read", file=sys.stderr)
            refused += 1
        for dll, name in found:
            pattern = LATER_PATTERNS.get(dll)
            if name in LATER.get(dll, ()) or (pattern and pattern.match(name)):
                print(f"{path}: imports {dll}!{name}, which Windows 2000 does not have")
                refused += 1
        print(f"{path}: {len(found)} imports checked")
    sys.exit(1 if refused else 0)


if __name__ == "__main__":
    main()
