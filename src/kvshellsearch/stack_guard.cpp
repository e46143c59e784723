// The two symbols the compiler's stack protector uses, without libssp (which would import the
// C runtime DLL). A smashed canary ends the process at once, as Windows itself does for
// /GS failures, so that nothing runs on with a corrupted stack.
#include "stack_guard.h"

#include <windows.h>

#include <stdint.h>

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

namespace {

// One step of splitmix64: every bit of the input reaches every bit of the result, so inputs that
// move together (under Wine the counter and the clock advance in the same units) cannot cancel
// each other out as they would in a plain XOR.
__attribute__((no_stack_protector)) uint64_t Mix(uint64_t state, uint64_t input)
{
    uint64_t z = state ^ input;
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

} // namespace

// Runs inside DllMain, under the loader lock: only sources that can load nothing, as the
// platform's own cookie set-up uses. (advapi32's random bytes are out: on newer Windows that
// export forwards to another DLL, which asking for it could load.)
__attribute__((no_stack_protector)) void InitializeStackGuard()
{
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t sources[] = {
        static_cast<uint64_t>(counter.QuadPart),
        (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime,
        GetCurrentProcessId(), GetCurrentThreadId(), GetTickCount(),
        reinterpret_cast<uintptr_t>(&counter), // where the stack lies
        reinterpret_cast<uintptr_t>(&__stack_chk_guard), // where the module was loaded
    };
    uint64_t state = 0;
    for (uint64_t source : sources)
        state = Mix(state, source); // cppcheck-suppress useStlAlgorithm
    auto guard = static_cast<uintptr_t>(state);
    // A zero byte in the lowest position stops string overruns from copying the guard.
    guard &= ~static_cast<uintptr_t>(0xff);
    if (guard == 0)
        guard = 0x2f8d0c00;
    __stack_chk_guard = guard;
}
