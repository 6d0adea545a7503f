#pragma once
#include "NoCrtString.h"

// Joins two path parts with exactly one backslash at the seam; an empty part
// joins with nothing.
WString PathJoin(const WString& first, const WString& second);

// True for a path that names its drive and starts at its root ("C:\...") or
// names a server ("\\server\..."): one that does not depend on the current
// drive or directory.
bool IsAbsolutePath(const WString& path);

// Splits at the last separator, ignoring trailing separators: "C:\dir\" gives
// "C:" and "dir"; a path without separator gives itself and an empty tail.
struct SplitPath {
    WString head;
    WString tail;
};
SplitPath SplitAtLast(const WString& path, wchar_t separator);
