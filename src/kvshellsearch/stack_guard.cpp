// The two symbols the compiler's stack protector uses, without libssp (which would import the
// C runtime DLL). A smashed canary ends the process at once, as Windows itself does for
// /GS failures, so that nothing runs on with a corrupted stack.
#include "stack_guard.h"

#include <windows.h>

extern "C" {
// The names are the compiler's. Never 0 once attach has run; the value below only stands until
// then.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
uintptr_t __stack_chk_guard = 0x2f8d0c5b;

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
__attribute__((noreturn)) void __stack_chk_fail()
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    for (;;) { }
}
}

__attribute__((no_stack_protector)) void InitializeStackGuard()
{
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    uintptr_t guard = static_cast<uintptr_t>(counter.QuadPart) ^ now.dwLowDateTime
        ^ (static_cast<uintptr_t>(now.dwHighDateTime) << 16) ^ GetCurrentProcessId()
        ^ (static_cast<uintptr_t>(GetCurrentThreadId()) << 8)
        ^ reinterpret_cast<uintptr_t>(&counter);
    // A zero byte in the lowest position stops string overruns from copying the guard.
    guard &= ~static_cast<uintptr_t>(0xff);
    if (guard == 0)
        guard = 0x2f8d0c00;
    __stack_chk_guard = guard;
}
