#pragma once
#include "NoCrtString.h"

// Comparisons that ignore letter case the way the system does for names
// (site names, paths), independent of the user's locale.
bool EqualNoCase(const WString& a, const WString& b);
bool StartsWithNoCase(const WString& text, const WString& prefix);
