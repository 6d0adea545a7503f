#pragma once
#include "../nocrtlib/NoCrtString.h"

// Folders no installation may take as its own: securing replaces their
// access control (locking out everything below them on Windows), and the
// uninstaller removes what it put there. A drive's root (or a share's), the
// Windows folder and everything under it, and a Program Files folder itself.
//
// Returns why `dir` is such a folder ("a drive's root", ...), or empty when
// it is not. The directory is compared in its canonical form
// (wwlib/CanonicalPath.h), case ignored; a path that has none, and a folder
// that is a link, are refused too.
WString RefusedTargetReason(const WString& dir);

// Ends the run for a refused target: "Refusing to install into '<dir>':
// <reason>, aborting" (and a box in an interactive run), 101.
[[noreturn]] void RefuseTarget(const WString& dir, const WString& reason);

// Why a folder that the installation is about to secure is refused: a link.
extern const wchar_t kTargetIsLink[];

// A path as these checks compare paths: the canonical form, or empty for a
// path that has none (which is below nothing and equals no folder).
WString ComparablePath(const WString& path);
// Whether `path` lies strictly below `top` (both comparable, case ignored);
// nothing lies below an empty top.
bool PathBelow(const WString& path, const WString& top);

// True when a name (one path component) is one of the devices Windows opens
// whatever folder it stands in: CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// CONIN$, CONOUT$, with or without an extension, case ignored.
bool IsReservedDeviceName(const WString& name);
