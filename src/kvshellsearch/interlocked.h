// Atomic changes of the counts that threads share. On x86-64 they are the compiler's intrinsics.
// The shipped 32-bit module runs on every x86 from the i386, which has neither XADD nor
// CMPXCHG, so it takes them from kernel32, which every Windows release exports. Windows 95
// returns only the sign of the new count from them: callers use nothing but zero and the sign.
#pragma once

#include <windows.h>

#if defined(__i386__)
extern "C" __declspec(dllimport) LONG WINAPI
    KernelInterlockedIncrement(volatile LONG* count) __asm__("InterlockedIncrement@4");
extern "C" __declspec(dllimport) LONG WINAPI
    KernelInterlockedDecrement(volatile LONG* count) __asm__("InterlockedDecrement@4");
#endif

// The new count: only whether it is zero, positive or negative can be relied on.
inline LONG CountUp(volatile LONG* count)
{
#if defined(__i386__)
    return KernelInterlockedIncrement(count);
#else
    return InterlockedIncrement(count);
#endif
}

inline LONG CountDown(volatile LONG* count)
{
#if defined(__i386__)
    return KernelInterlockedDecrement(count);
#else
    return InterlockedDecrement(count);
#endif
}
