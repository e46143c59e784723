// The 64-bit DLL only (KV_HARDENING): the module's stack protector has a real guard,
// set at attach, and a smashed canary ends the process. Checked on a module built with the
// same protector and the same guard code as the module.
#include <windows.h>

#include <set>
#include <string>

#include "support/test_support.h"

TEST(HardenedBuild, StackGuardIsSetAtAttachAndDiffersBetweenLoads)
{
    const std::string path = BinPath("smashing_module.dll");
    std::set<uintptr_t> guards;
    for (int load = 0; load < 20; ++load) {
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_NE(nullptr, module);
        auto value = reinterpret_cast<uintptr_t (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, "StackGuardValue")));
        ASSERT_NE(nullptr, value);
        const uintptr_t guard = value();
        FreeLibrary(module);
        EXPECT_NE(0u, guard >> 8) << "load " << load << ": a guard anyone can guess";
        EXPECT_EQ(0u, guard & 0xff) << "load " << load << ": no zero byte to stop string overruns";
        guards.insert(guard);
    }
    // Loads right after each other: the guard must not follow from the time of the load alone.
    EXPECT_EQ(20u, guards.size());
}

// What the host's exit code means: 3 and 4 are the host's own (module not loaded, no function).
TEST(HardenedBuild, SmashedCanaryEndsTheProcess)
{
    SetLastError(ERROR_SUCCESS);
    int exitCode = RunProgram(
        "\"" + BinPath("process_host.exe") + "\" smash \"" + BinPath("smashing_module.dll") + "\"");
    EXPECT_EQ(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN), exitCode)
        << (exitCode == -1 ? "the host did not start or did not end in time, last error "
                           : "the host's exit code 0x")
        << std::hex << (exitCode == -1 ? GetLastError() : static_cast<DWORD>(exitCode));
}
