#include "NoCrtCompare.h"
#include <windows.h>

namespace {

bool SameNoCase(const wchar_t* a, std::size_t aLen, const wchar_t* b, std::size_t bLen)
{
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, static_cast<int>(aLen), b, static_cast<int>(bLen)) ==
           CSTR_EQUAL;
}

} // namespace

bool EqualNoCase(const WString& a, const WString& b)
{
    return SameNoCase(a.c_str(), a.size(), b.c_str(), b.size());
}

bool StartsWithNoCase(const WString& text, const WString& prefix)
{
    return text.size() >= prefix.size() && SameNoCase(text.c_str(), prefix.size(), prefix.c_str(), prefix.size());
}
