// The 64-bit test build only (KV_HARDENING): the module's stack protector has a real guard,
// set at attach, and a smashed canary ends the process. Checked on a module built with the
// same protector and the same guard code as the module.
#include <windows.h>

#include <string>

#include "support/test_support.h"

TEST(HardenedBuild, StackGuardIsSetAtAttachAndDiffersBetweenLoads)
{
    const std::string path = BinPath("smashing_module.dll");
    uintptr_t guards[2] = {};
    for (uintptr_t& guard : guards) {
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_NE(nullptr, module);
        auto value = reinterpret_cast<uintptr_t (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module, "StackGuardValue")));
        ASSERT_NE(nullptr, value);
        guard = value();
        FreeLibrary(module);
        Sleep(2); // a later time and counter
    }
    for (uintptr_t guard : guards) {
        EXPECT_NE(0u, guard) << "a guard of 0 is a canary anyone knows";
        EXPECT_NE(static_cast<uintptr_t>(0x2f8d0c5b), guard) << "still the value before attach";
    }
    EXPECT_NE(guards[0], guards[1]);
}

TEST(HardenedBuild, SmashedCanaryEndsTheProcess)
{
    int exitCode = RunProgram(
        "\"" + BinPath("process_host.exe") + "\" smash \"" + BinPath("smashing_module.dll") + "\"");
    EXPECT_EQ(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN), exitCode)
        << "exit code 0x" << std::hex << exitCode;
}
