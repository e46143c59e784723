// Many cycles: registration leaves the registry exactly as it found it and leaks no handles;
// object cycles leave memory flat and the module free to unload.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <string>

#include "support/test_support.h"

namespace {

// Every key registration could touch, and their neighbours.
RegistryExport ExportRegistry()
{
    RegistryExport state;
    ExportKeys(HKEY_CLASSES_ROOT, "CLSID", state);
    ExportKeys(HKEY_LOCAL_MACHINE,
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions", state);
    return state;
}

DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// The process's private committed bytes. Windows reports them in both fields; Wine only in
// PagefileUsage.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

} // namespace

TEST_F(RegistryTest, RegisterUnregisterCyclesLeaveNoTrace)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    LoadedModule module;
    const auto untouched = ExportRegistry();
    // One cycle first, so that what the platform sets up once is not counted as growth.
    ASSERT_EQ(S_OK, module.RegisterServer());
    ASSERT_EQ(S_OK, module.UnregisterServer());
    const auto before = ExportRegistry();
    // Where the platform lacks the shell's own FindExtensions\Static key, the first
    // registration creates it; unregistration rightly leaves the shell's keys alone.
    const std::string shellKey
        = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions";
    for (const auto& entry : before) {
        if (untouched.count(entry.first) == 0) {
            EXPECT_TRUE(entry.first == shellKey || entry.first == shellKey + "\\Static")
                << entry.first;
        }
    }
    const DWORD handles = HandleCount();
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(S_OK, module.RegisterServer()) << "cycle " << cycle;
        ASSERT_EQ(S_OK, module.UnregisterServer()) << "cycle " << cycle;
    }
    EXPECT_EQ(handles, HandleCount());
    EXPECT_EQ(before, ExportRegistry());
}

TEST(Endurance, MillionObjectCyclesKeepMemoryFlat)
{
    LoadedModule module;
    auto cycle = [&module] {
        IClassFactory* factory = nullptr;
        module.GetClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        IUnknown* extension = nullptr;
        factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&extension));
        IUnknown* init = nullptr;
        extension->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
        init->Release();
        extension->Release();
        factory->Release();
    };
    for (int i = 0; i < 10000; ++i)
        cycle();
    const SIZE_T before = PrivateBytes();
    ASSERT_GT(before, 0u) << "the platform reports no private bytes";
    for (int i = 0; i < 1000000; ++i)
        cycle();
    const SIZE_T after = PrivateBytes();
    // A leak of even one 16-byte object per cycle would be 16 MB; allow the heap's own slack.
    EXPECT_LT(after, before + 256 * 1024) << "before " << before << ", after " << after;
    EXPECT_EQ(S_OK, module.CanUnloadNow());
}
