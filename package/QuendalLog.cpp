// The log tool: shows the server's log of its site, and checks the package's
// libraries of its own width.
//   QuendalLog.exe            print Config\Quendal.log
//   QuendalLog.exe -modules   load every library beside it that is of this
//                             program's width and print what each says of
//                             itself; libraries of the other width are named
//                             as skipped. Exit code 1 if one failed to load.
#include "ForcedExit.h"
#include <windows.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace {

#ifdef _WIN64
const WORD kOwnMachine = IMAGE_FILE_MACHINE_AMD64;
#else
const WORD kOwnMachine = IMAGE_FILE_MACHINE_I386;
#endif

// The machine a PE file was built for, or 0.
WORD MachineOf(const std::wstring& path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_FILE_HEADER file = {};
    DWORD got = 0, signature = 0;
    WORD machine = 0;
    if (ReadFile(f, &dos, sizeof(dos), &got, nullptr) && got == sizeof(dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(f, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(f, &signature, sizeof(signature), &got, nullptr) && signature == IMAGE_NT_SIGNATURE &&
        ReadFile(f, &file, sizeof(file), &got, nullptr) && got == sizeof(file))
        machine = file.Machine;
    CloseHandle(f);
    return machine;
}

int Modules()
{
    const std::wstring dir = Package::OwnDirectory();
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*.dll").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int failed = 0;
    do {
        const std::wstring path = dir + L"\\" + fd.cFileName;
        if (MachineOf(path) != kOwnMachine) {
            std::wprintf(L"%ls: skipped (other width)\n", fd.cFileName);
            continue;
        }
        HMODULE lib = LoadLibraryW(path.c_str());
        using InfoFn = const wchar_t* (*)();
        auto info = lib ? reinterpret_cast<InfoFn>(reinterpret_cast<void*>(GetProcAddress(lib, "QuendalModuleInfo")))
                        : nullptr;
        if (info) {
            std::wprintf(L"%ls: %ls\n", fd.cFileName, info());
        } else {
            std::wprintf(L"%ls: failed to load (error %lu)\n", fd.cFileName, GetLastError());
            ++failed;
        }
        if (lib)
            FreeLibrary(lib);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::fflush(stdout);
    return failed ? 1 : 0;
}

int ShowLog()
{
    const std::wstring log = Package::OwnDirectory() + L"\\Config\\Quendal.log";
    FILE* f = _wfopen(log.c_str(), L"rb");
    if (!f) {
        std::fwprintf(stderr, L"QuendalLog: no log at %ls\n", log.c_str());
        return 2;
    }
    // The log's bytes as they are: no second CR before each LF.
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
        std::fwrite(buf, 1, n, stdout);
    std::fclose(f);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Package::ApplyForcedExit(argc, argv);
    if (argc > 1 && Package::Lower(argv[1]) == L"-modules")
        return Modules();
    return ShowLog();
}
