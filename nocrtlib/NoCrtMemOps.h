#pragma once
#include <cstddef>

// Measuring and copying of the foundation's strings and vectors, done here
// rather than by the C run-time's strlen/wcslen/memmove: a bad pointer then
// faults inside this program's own image, where the structured-exception
// translator turns the fault into an exception, instead of inside msvcrt.dll,
// where the process would simply crash. The build keeps the compiler from
// turning these loops back into library calls
// (-fno-tree-loop-distribute-patterns).

// Characters before the terminating nul.
template <class Ch>
std::size_t NoCrtLength(const Ch* s)
{
    std::size_t n = 0;
    while (s[n] != Ch())
        ++n;
    return n;
}

// Copies n elements of a plain type; the ranges may overlap.
template <class T>
void NoCrtMove(T* to, const T* from, std::size_t n)
{
    if (to == from || n == 0)
        return;
    if (to < from) {
        for (std::size_t i = 0; i < n; ++i)
            to[i] = from[i];
    } else {
        for (std::size_t i = n; i-- > 0;)
            to[i] = from[i];
    }
}

// Sets n elements of a plain type to a value.
template <class T>
void NoCrtFill(T* to, const T& value, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        to[i] = value;
}
