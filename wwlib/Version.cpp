#include "Version.h"

namespace WWLib {

namespace {

struct VersionPart {
    unsigned long long number = 0;
    WString rest; // only after digits: a part without them is 0
};

// The part that begins at `pos`; `pos` moves past it and its dot.
VersionPart NextPart(const WString& v, std::size_t& pos)
{
    VersionPart part;
    const std::size_t start = pos;
    while (pos < v.size() && v[pos] >= L'0' && v[pos] <= L'9') {
        unsigned digit = static_cast<unsigned>(v[pos] - L'0');
        // A number too long to hold stays at the largest value.
        if (part.number <= (~0ull - digit) / 10)
            part.number = part.number * 10 + digit;
        else
            part.number = ~0ull;
        ++pos;
    }
    const bool digits = pos > start;
    while (pos < v.size() && v[pos] != L'.') {
        if (digits)
            part.rest += v[pos];
        ++pos;
    }
    if (pos < v.size())
        ++pos; // the dot
    return part;
}

} // namespace

int CompareVersions(const WString& a, const WString& b)
{
    std::size_t pa = 0, pb = 0;
    while (pa < a.size() || pb < b.size()) {
        VersionPart x = NextPart(a, pa), y = NextPart(b, pb);
        if (x.number != y.number)
            return x.number < y.number ? -1 : 1;
        int text = x.rest.compare(y.rest);
        if (text != 0)
            return text < 0 ? -1 : 1;
    }
    return 0;
}

} // namespace WWLib
