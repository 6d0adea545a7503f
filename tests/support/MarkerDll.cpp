// A library planted where an elevated program must not take libraries from
// (beside it, in the current folder): built under the name of a library that
// program or the system loads, it notes that it was loaded, into the folder
// QUENDAL_MARKER_DIR names, as a file of its own name, and refuses to stay.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t dir[MAX_PATH] = {}, path[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"QUENDAL_MARKER_DIR", dir, MAX_PATH);
    if (n && n < MAX_PATH && GetModuleFileNameW(self, path, MAX_PATH)) {
        const wchar_t* name = path;
        for (const wchar_t* p = path; *p; ++p)
            if (*p == L'\\')
                name = p + 1;
        wchar_t marker[MAX_PATH * 2] = {};
        lstrcpynW(marker, dir, MAX_PATH);
        lstrcatW(marker, L"\\");
        lstrcatW(marker, name);
        lstrcatW(marker, L".ran");
        HANDLE f = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
    }
    return FALSE;
}
