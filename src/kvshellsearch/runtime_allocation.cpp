// The module's only allocations are its COM objects and one small block at attach. These
// replacements keep libstdc++'s throwing operator new, and the exception machinery it drags in,
// out of a module that every shell process loads. Only the nothrow forms of new are defined:
// nothing in the module may use the throwing ones.
#include <stdlib.h>

#include <new>

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size != 0 ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size != 0 ? size : 1);
}

void operator delete(void* block) noexcept // NOLINT(misc-new-delete-overloads,cert-dcl54-cpp)
{
    free(block);
}

void operator delete(void* block, size_t) noexcept
{
    free(block);
}

void operator delete[](void* block) noexcept // NOLINT(misc-new-delete-overloads,cert-dcl54-cpp)
{
    free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    free(block);
}
