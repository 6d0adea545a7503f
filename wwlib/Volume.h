#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

// The root of the volume that holds `path` (null: the current directory),
// with its trailing backslash. Throws SystemError.
WString VolumeRootOf(const wchar_t* path);
// The root worked out from a full path, as systems without GetVolumePathNameW
// need: "C:\" for a drive path, "\\server\share\" for a network path.
WString VolumeRootFromFullPath(const WString& full);
// The file-system flags of that volume (FS_PERSISTENT_ACLS, ...). Throws SystemError.
DWORD VolumeFlagsOf(const wchar_t* path);
