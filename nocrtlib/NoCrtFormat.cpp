#include "NoCrtFormat.h"

namespace {

template <class Ch>
std::size_t Format(std::uint64_t value, unsigned minDigits, unsigned radix, Ch* out)
{
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (radix < 2)
        radix = 2;
    if (radix > 36)
        radix = 36;
    char rev[64];
    unsigned n = 0;
    do {
        rev[n++] = digits[value % radix];
        value /= radix;
    } while (value);
    std::size_t w = 0;
    for (unsigned i = n; i < minDigits; ++i)
        out[w++] = Ch('0');
    while (n)
        out[w++] = Ch(rev[--n]);
    out[w] = Ch();
    return w;
}

} // namespace

std::size_t FormatUnsigned(std::uint64_t value, unsigned minDigits, unsigned radix, wchar_t* out)
{
    return Format(value, minDigits, radix, out);
}

std::size_t FormatUnsigned(std::uint64_t value, unsigned minDigits, unsigned radix, char* out)
{
    return Format(value, minDigits, radix, out);
}
