#include "NoCrtMem.h"
#include <windows.h>
#include <new>

void NoCrtWipe(void* p, std::size_t bytes)
{
    volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
    for (std::size_t i = 0; i < bytes; ++i)
        b[i] = 0xFE;
}

void* NoCrtHeap::Allocate(std::size_t bytes)
{
    return ::operator new(bytes);
}

void NoCrtHeap::Release(void* p, std::size_t)
{
    ::operator delete(p);
}

// All allocation goes through the process heap; an empty answer is
// std::bad_alloc, never a null pointer.
void* operator new(std::size_t size)
{
    void* p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* operator new[](std::size_t size)
{
    return ::operator new(size);
}

void operator delete(void* p) noexcept
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

void operator delete[](void* p) noexcept
{
    ::operator delete(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    ::operator delete(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    ::operator delete(p);
}
