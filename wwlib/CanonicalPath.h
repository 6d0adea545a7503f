#pragma once
#include "../nocrtlib/NoCrtString.h"

namespace WWLib {

// The one form in which the installer and the uninstaller check and compare
// paths (targets, scopes, journal entries): absolute ("C:\..." or
// "\\server\share\..."), backslashes only, "." and ".." resolved, the long
// name of every folder that exists (not "C:\PROGRA~1"), no trailing
// backslash but a drive root's. The "\\?\" and "\\.\" prefixes of a drive or
// share path are taken off; other device paths are refused, and so is a name
// that ends with a dot or a space, which Windows would quietly drop, or holds
// a character that names may not hold (? * : " < > | and control characters).
//
// Returns why the path is refused ("...", for a sentence after a colon), or
// empty with `out` set. `out` is untouched on refusal. A relative path is
// refused, or with `fromCurrentDirectory` taken from the current directory
// (as a command line's is).
WString CanonicalPath(const WString& path, WString& out, bool fromCurrentDirectory = false);

// The canonical form, or empty for a refused path: an empty path is below
// nothing and equals no folder.
WString CanonicalOrEmpty(const WString& path);

} // namespace WWLib
