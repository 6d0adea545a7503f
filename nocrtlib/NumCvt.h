#pragma once
#include "NoCrtAssert.h"

// Converts a value to an unsigned type, checking that it is not negative and
// fits; a value that does not is an assertion failure.
// The comparisons are between mixed signedness on purpose: the check is the
// conversion's whole point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wtype-limits"
template <class OutType, class InType>
OutType NumCvt(InType value)
{
    NoCrtAssert(value >= 0);
    NoCrtAssert(value <= OutType(-1));
    return static_cast<OutType>(value);
}
#pragma GCC diagnostic pop
