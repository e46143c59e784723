// Atomic changes of the counts that threads share. On x86-64 they are the compiler's intrinsics.
// The shipped 32-bit module runs on every x86 from the i386, which has neither XADD nor
// CMPXCHG, so it takes them from kernel32, which every Windows release exports. Windows 95
// returns only the sign of the new count from them: callers use nothing but zero and the sign.
#pragma once

#include <windows.h>

// The new count: only whether it is zero, positive or negative can be relied on.
#if defined(__i386__)
extern "C" __declspec(dllimport) LONG WINAPI
    KernelInterlockedIncrement(volatile LONG* count) __asm__("InterlockedIncrement@4");
extern "C" __declspec(dllimport) LONG WINAPI
    KernelInterlockedDecrement(volatile LONG* count) __asm__("InterlockedDecrement@4");
inline LONG CountUp(volatile LONG* count)
{
    return KernelInterlockedIncrement(count);
}
inline LONG CountDown(volatile LONG* count)
{
    return KernelInterlockedDecrement(count);
}
#else
inline LONG CountUp(volatile LONG* count)
{
    return InterlockedIncrement(count);
}
inline LONG CountDown(volatile LONG* count)
{
    return InterlockedDecrement(count);
}
#endif
