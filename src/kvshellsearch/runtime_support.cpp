// What the module needs of a runtime, on the platform's own DLLs only: no C runtime DLL is
// imported (the first release of Windows 95 has no msvcrt.dll).
//
// The module's only allocations are its COM objects and one small block at attach, all from
// the process heap. Only the nothrow forms of new are defined, which keeps libstdc++'s throwing
// operator new, and the exception machinery it drags in, out of a module that every shell
// process loads: nothing in the module may use the throwing ones.
#include <windows.h>

#include <new>

// Normally libstdc++'s; the module links no C++ runtime.
const std::nothrow_t std::nothrow{};

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}

void operator delete(void* block) noexcept // NOLINT(misc-new-delete-overloads,cert-dcl54-cpp)
{
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void* block) noexcept // NOLINT(misc-new-delete-overloads,cert-dcl54-cpp)
{
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept
{
    operator delete(block);
}

// The compiler itself emits calls to these for zero-filled buffers, structure copies and GUID
// comparisons. This file is compiled so that the loops are never turned back into such calls.
extern "C" {

void* memset(void* dest, int value, size_t count)
{
    auto* to = static_cast<unsigned char*>(dest);
    while (count-- != 0)
        *to++ = static_cast<unsigned char>(value);
    return dest;
}

void* memcpy(void* dest, const void* source, size_t count)
{
    auto* to = static_cast<unsigned char*>(dest);
    const auto* from = static_cast<const unsigned char*>(source);
    while (count-- != 0)
        *to++ = *from++;
    return dest;
}

void* memmove(void* dest, const void* source, size_t count)
{
    auto* to = static_cast<unsigned char*>(dest);
    const auto* from = static_cast<const unsigned char*>(source);
    if (to < from || to >= from + count)
        return memcpy(dest, source, count);
    while (count-- != 0)
        to[count] = from[count];
    return dest;
}

int memcmp(const void* left, const void* right, size_t count)
{
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

} // extern "C"
