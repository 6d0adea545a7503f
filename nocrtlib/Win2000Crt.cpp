// The C run-time of Windows 2000 (msvcrt.dll 6.x) has no functions with
// 64-bit times; those came with Windows XP. The C++ run-time's file streams
// import _fstat64, which the iostreams pull in even where no file stream is
// used, and a program that imports a function its system lacks does not start
// at all. In the 32-bit build that import is served here, through
// _fstati64, which every msvcrt.dll has; the linker takes this slot instead of
// msvcrt's (each program linking nocrtlib is linked with -u for it).
#ifndef _WIN64
#include <windows.h>
#include <sys/stat.h>

namespace {

// msvcrt's struct _stati64: 32-bit times.
struct MsvcrtStati64 {
    unsigned int st_dev;
    unsigned short st_ino;
    unsigned short st_mode;
    short st_nlink;
    short st_uid;
    short st_gid;
    unsigned int st_rdev;
    long long st_size;
    long st_atime;
    long st_mtime;
    long st_ctime;
};
static_assert(sizeof(MsvcrtStati64) == 48, "msvcrt's struct _stati64 is 48 bytes");

int __cdecl Fstat64(int fd, struct _stat64* out)
{
    using Fn = int(__cdecl*)(int, MsvcrtStati64*);
    HMODULE msvcrt = GetModuleHandleW(L"msvcrt.dll");
    auto fstati64 = reinterpret_cast<Fn>(reinterpret_cast<void*>(msvcrt ? GetProcAddress(msvcrt, "_fstati64") : nullptr));
    if (!fstati64)
        return -1;
    MsvcrtStati64 s = {};
    int r = fstati64(fd, &s);
    if (r == 0) {
        out->st_dev = s.st_dev;
        out->st_ino = s.st_ino;
        out->st_mode = s.st_mode;
        out->st_nlink = s.st_nlink;
        out->st_uid = s.st_uid;
        out->st_gid = s.st_gid;
        out->st_rdev = s.st_rdev;
        out->st_size = s.st_size;
        out->st_atime = s.st_atime;
        out->st_mtime = s.st_mtime;
        out->st_ctime = s.st_ctime;
    }
    return r;
}

} // namespace

// The import address slot the C++ run-time calls through.
extern "C" void* QuendalFstat64Slot asm("__imp___fstat64");
void* QuendalFstat64Slot = reinterpret_cast<void*>(&Fstat64);
#endif
