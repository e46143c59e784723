// Which module the texts come from: a translated satellite named by the player's preferences,
// loaded as data only, or the module itself; and what detach gives back.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "support/import_hook.h"
#include "support/test_support.h"

namespace {

constexpr char OwnDisplayName[] = "Orbelquest";
constexpr char SatelliteDisplayName[] = "Orbelsuche";

void SetSatellite(const std::string& path)
{
    SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, path);
}

// The class's display name as registration writes it: the texts' source made visible.
std::string RegisteredDisplayName(const std::string& modulePath = BinPath("kvshellsearch.dll"))
{
    LoadedModule module(modulePath);
    if (module.RegisterServer == nullptr || FAILED(module.RegisterServer()))
        return "(registration failed)";
    return QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text();
}

std::vector<HMODULE> freedModules;
BOOL WINAPI RecordingFreeLibrary(HMODULE module)
{
    freedModules.push_back(module);
    return FreeLibrary(module);
}

// Unloads the module with FreeLibrary watched, and returns what its detach gave back.
std::vector<HMODULE> FreedAtDetach(const std::string& modulePath)
{
    HMODULE module = LoadLibraryA(modulePath.c_str());
    if (module == nullptr)
        return {};
    freedModules.clear();
    ImportHook hook(
        module, "KERNEL32.dll", "FreeLibrary", reinterpret_cast<void*>(&RecordingFreeLibrary));
    FreeLibrary(module);
    hook.Abandon();
    return freedModules;
}

} // namespace

class SatelliteTest : public RegistryTest { };

TEST_F(SatelliteTest, TextsComeFromTheSatelliteAndItsCodeNeverRuns)
{
    const std::string satellite = BinPath("test_satellite.dll");
    SetSatellite(satellite);
    SetEnvironmentVariableA("KV_SATELLITE_CODE_RAN", nullptr);

    LoadedModule module;
    ASSERT_NE(nullptr, module.handle);
    EXPECT_EQ(0u, GetEnvironmentVariableA("KV_SATELLITE_CODE_RAN", nullptr, 0))
        << "the satellite's DllMain ran";
    EXPECT_EQ(nullptr, GetModuleHandleA(satellite.c_str())) << "loaded as a program module";
    ASSERT_EQ(S_OK, module.RegisterServer());
    EXPECT_EQ(SatelliteDisplayName, QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text());
}

TEST_F(SatelliteTest, UnusableSatelliteValuesFallBackToOwnTexts)
{
    std::string scratch = MakeScratchDirectory();
    std::string notAModule = scratch + "\\notes.dll";
    FILE* file = fopen(notAModule.c_str(), "wb");
    fputs("not a module at all\n", file);
    fclose(file);
    // 260 bytes without a terminating zero: a real path padded with backslashes.
    std::string unterminated = BinPath("test_satellite.dll");
    unterminated.insert(2, 260 - unterminated.size(), '\\');

    const struct {
        const char* label;
        std::string stored;
        bool terminated;
    } cases[] = {
        {"missing file", scratch + "\\missing.dll", true},
        {"not a module", notAModule, true},
        {"empty value", "", true},
        {"260 bytes without a zero", unterminated, false},
    };
    for (const auto& c : cases) {
        ResetRegistry();
        SetDefaultValue(HKEY_CLASSES_ROOT, SatelliteKey, c.stored.c_str(),
            static_cast<DWORD>(c.stored.size() + (c.terminated ? 1 : 0)), REG_SZ);
        EXPECT_EQ(OwnDisplayName, RegisteredDisplayName()) << c.label;
    }
    ResetRegistry();
    EXPECT_EQ(OwnDisplayName, RegisteredDisplayName()) << "no satellite preference";
}

TEST_F(SatelliteTest, DetachReleasesALoadedSatelliteExactlyOnce)
{
    const std::string modulePath = BinPath("kvshellsearch.dll");
    EXPECT_TRUE(FreedAtDetach(modulePath).empty()) << "own resources: nothing to release";

    SetSatellite(BinPath("test_satellite.dll"));
    std::vector<HMODULE> freed = FreedAtDetach(modulePath);
    ASSERT_EQ(1u, freed.size());
    EXPECT_NE(nullptr, freed[0]);
}

// A data-file load of a module that is already loaded hands back that module's own handle with
// one more reference. If the module kept it, it could never be unloaded.
TEST_F(SatelliteTest, OwnPathAsSatelliteLeavesNoExtraReference)
{
    const std::string modulePath = BinPath("kvshellsearch.dll");
    SetSatellite(modulePath);
    EXPECT_EQ(OwnDisplayName, RegisteredDisplayName(modulePath));
    EXPECT_TRUE(FreedAtDetach(modulePath).empty());
    EXPECT_EQ(nullptr, GetModuleHandleA(modulePath.c_str())) << "the module is still loaded";
}
