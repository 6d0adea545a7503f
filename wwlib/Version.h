#pragma once
#include "../nocrtlib/NoCrtString.h"

namespace WWLib {

// Compares two dot-separated versions part by part: the leading digits of a
// part as a number ("10" after "9"), then the rest of the part as text
// ("18a" after "18"). A missing part counts as 0, so "5.18" and "5.18.0" are
// the same. A part that does not begin with a digit counts as 0: an
// unreadable version is older than any real one. Returns <0, 0 or >0.
int CompareVersions(const WString& a, const WString& b);

} // namespace WWLib
