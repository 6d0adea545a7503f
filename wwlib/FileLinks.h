#pragma once
#include "../nocrtlib/NoCrtString.h"
#include <windows.h>

// Links in the file system (junctions, symbolic links, mount points) as the
// removal code meets them: a link is never entered, and what lies behind it
// is never deleted. Someone who can write into a folder that the installer
// later cleans up could otherwise point it at anything.
namespace WWLib {

// Whether the path itself is a reparse point.
bool IsReparsePoint(const WString& path);

// Whether `path`, which lies at or below `top`, is reached through a link
// below `top`: a folder on the way is a reparse point, or the system resolves
// the path to another place than its name (as it does for a link that shows
// no reparse attribute). A path that is itself a reparse point counts only
// through its folders: removing it removes the link. Links above `top` are
// the administrator's business. A path that does not exist is not reached
// through anything.
bool ReachedThroughLink(const WString& path, const WString& top);

// DeleteFileW for a file of an installation below `top`: clears its
// read-only attribute first, and refuses (ERROR_CANT_RESOLVE_FILENAME) a file
// reached through a link below `top`, so that a link is never followed to its
// target. A file that is itself a link goes as the link.
bool DeleteFileNotLink(const WString& path, const WString& top);

// Where the system says an existing path really is, what links on the way
// lead to, in the plain drive form; empty where it cannot say (before Windows
// Vista, or nothing is there).
WString FinalPathOf(const WString& path);

// Whether an open file or folder is the one `path` names and nothing a link
// there leads to: no reparse point, a file with no second name (a hard link
// made elsewhere would change it too), and, where the system can say, it
// lies at `path` itself. The handle needs FILE_READ_ATTRIBUTES.
bool OpenedAsNamed(HANDLE handle, const WString& path);

} // namespace WWLib
