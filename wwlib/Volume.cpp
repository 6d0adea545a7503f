#include "Volume.h"
#include "DllLoader.h"
#include "SystemError.h"
#include "SystemInfo.h"

WString VolumeRootFromFullPath(const WString& full)
{
    if (full.size() <= 1)
        return full;
    if (full[1] == L':')
        return full.substr(0, 2) + L"\\";
    if (full.startsWith(L"\\\\")) {
        std::size_t server = full.find(L'\\', 2);
        if (server == WString::npos)
            return full + L"\\";
        std::size_t share = full.find(L'\\', server + 1);
        if (share == WString::npos)
            return full + L"\\";
        return full.substr(0, share + 1);
    }
    return full;
}

WString VolumeRootOf(const wchar_t* path)
{
    if (!path)
        path = L".";
    wchar_t buf[264] = {};
    if (WWLib::AtLeastNt5()) {
        if (!WWLib::ProcessKernel32().GetVolumePathNameW(path, buf, 264))
            ThrowLastError(L"GetVolumePathNameW()");
        return WString(buf);
    }
    wchar_t* filePart = nullptr;
    DWORD n = GetFullPathNameW(path, 264, buf, &filePart);
    if (n == 0)
        ThrowLastError(L"GetFullPathNameW()");
    // The size needed, not the path: the buffer holds nothing usable.
    if (n >= 264)
        throw SystemError(L"GetFullPathNameW()", ERROR_INSUFFICIENT_BUFFER);
    return VolumeRootFromFullPath(WString(buf, n));
}

DWORD VolumeFlagsOf(const wchar_t* path)
{
    WString root = VolumeRootOf(path);
    DWORD flags = 0;
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        ThrowLastError(L"GetVolumeInformationW()");
    return flags;
}
