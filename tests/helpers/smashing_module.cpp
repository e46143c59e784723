// A module built with the hardened module's stack protector and its guard (stack_guard.cpp),
// with one function that overruns its buffer on purpose: the proof that a smashed canary ends
// the process.
#include <windows.h>

#include "stack_guard.h"

extern "C" uintptr_t __stack_chk_guard;

extern "C" __declspec(dllexport) uintptr_t StackGuardValue()
{
    return __stack_chk_guard;
}

extern "C" __declspec(dllexport) void __cdecl CopyIntoSmallBuffer(const char* text)
{
    // The writes through a volatile pointer are all the overrun needs. Nothing reads the buffer
    // afterwards: it holds no terminating zero, and the stack above it is smashed.
    char small[8];
    volatile char* to = small;
    for (size_t i = 0; text[i] != '\0'; ++i)
        to[i] = text[i];
}

extern "C" __attribute__((no_stack_protector)) BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        InitializeStackGuard();
    return TRUE;
}
