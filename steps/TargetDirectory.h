#pragma once
#include "../nocrtlib/NoCrtString.h"

// Folders no installation may take as its own: securing replaces their
// access control (locking out everything below them on Windows), and the
// uninstaller removes what it put there. A drive's root (or a share's), the
// Windows folder and everything under it, and a Program Files folder itself.
//
// Returns why `dir` is such a folder ("a drive's root", ...), or empty when
// it is not. The directory is compared as an absolute path, in its long form
// where it exists, case ignored.
WString RefusedTargetReason(const WString& dir);

// True when a name (one path component) is one of the devices Windows opens
// whatever folder it stands in: CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// CONIN$, CONOUT$, with or without an extension, case ignored.
bool IsReservedDeviceName(const WString& name);
