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
std::string RegisteredDisplayName(const std::string& modulePath = BinPath(ModuleFile))
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

// Runs the module's attach once more, so that calls it makes there can be intercepted: its
// detach gives back what the first attach chose, then attach chooses again.
void Reattach(HMODULE module)
{
    using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(base + nt->OptionalHeader.AddressOfEntryPoint));
    entry(module, DLL_PROCESS_DETACH, nullptr);
    entry(module, DLL_PROCESS_ATTACH, nullptr);
}

decltype(&GetFileInformationByHandle) realFileInformation;
// What a network redirector reports: a file index of zero, for every file.
BOOL WINAPI ZeroFileIndex(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
{
    BOOL result = realFileInformation(file, info);
    info->nFileIndexHigh = info->nFileIndexLow = 0;
    return result;
}
BOOL WINAPI NoFileInformation(HANDLE, BY_HANDLE_FILE_INFORMATION*)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

decltype(&LoadLibraryExA) realLoadLibraryEx;
int loadsSoFar;
HMODULE WINAPI CountingLoadLibraryEx(LPCSTR path, HANDLE file, DWORD flags)
{
    ++loadsSoFar;
    return realLoadLibraryEx(path, file, flags);
}

} // namespace

class SatelliteTest : public RegistryTest { };

// Without a usable file identity (an index of zero, or a failed query) a file counts as not
// ours: a real translation is loaded, and our own path is still known by its name alone.
TEST_F(SatelliteTest, UnknownFileIdentityNeverHidesATranslation)
{
    std::string ownUpper = BinPath(ModuleFile);
    CharUpperA(&ownUpper[0]);
    const struct {
        const char* label;
        void* identity;
        std::string satellite;
        int loads;
        const char* displayName;
    } cases[] = {
        {"file index 0, translation", reinterpret_cast<void*>(&ZeroFileIndex),
            BinPath("test_satellite.dll"), 1, SatelliteDisplayName},
        {"file index 0, own path in upper case", reinterpret_cast<void*>(&ZeroFileIndex), ownUpper,
            0, OwnDisplayName},
        {"identity query fails, translation", reinterpret_cast<void*>(&NoFileInformation),
            BinPath("test_satellite.dll"), 1, SatelliteDisplayName},
        {"identity query fails, own path in upper case",
            reinterpret_cast<void*>(&NoFileInformation), ownUpper, 0, OwnDisplayName},
    };
    for (const auto& c : cases) {
        ResetRegistry();
        SetSatellite(c.satellite);
        LoadedModule module;
        ASSERT_NE(nullptr, module.handle);
        {
            ImportHook identity(
                module.handle, "KERNEL32.dll", "GetFileInformationByHandle", c.identity);
            ImportHook load(module.handle, "KERNEL32.dll", "LoadLibraryExA",
                reinterpret_cast<void*>(&CountingLoadLibraryEx));
            ASSERT_TRUE(identity.Installed() && load.Installed());
            realFileInformation
                = reinterpret_cast<decltype(realFileInformation)>(identity.Original());
            realLoadLibraryEx = reinterpret_cast<decltype(realLoadLibraryEx)>(load.Original());
            loadsSoFar = 0;
            Reattach(module.handle);
        }
        EXPECT_EQ(c.loads, loadsSoFar) << c.label;
        ASSERT_EQ(S_OK, module.RegisterServer()) << c.label;
        EXPECT_EQ(c.displayName, QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text()) << c.label;
    }
}

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
    const std::string modulePath = BinPath(ModuleFile);
    EXPECT_TRUE(FreedAtDetach(modulePath).empty()) << "own resources: nothing to release";

    SetSatellite(BinPath("test_satellite.dll"));
    std::vector<HMODULE> freed = FreedAtDetach(modulePath);
    ASSERT_EQ(1u, freed.size());
    EXPECT_NE(nullptr, freed[0]);
}

// A preference naming this very module, however it is spelled, means the module's own texts,
// and nothing is loaded for it: a load would hand back our own handle, and whatever reference it
// took would keep the module loaded.
TEST_F(SatelliteTest, OwnModuleAsSatelliteInAnySpellingLoadsNothing)
{
    const std::string modulePath = BinPath(ModuleFile);
    std::string upper = modulePath;
    CharUpperA(&upper[0]);
    std::string slashes = modulePath;
    for (char& c : slashes)
        c = c == '\\' ? '/' : c;
    const size_t lastSeparator = modulePath.find_last_of('\\');
    std::string dotted = modulePath.substr(0, lastSeparator) + "\\.\\..\\"
        + modulePath.substr(modulePath.find_last_of('\\', lastSeparator - 1) + 1);
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameA(modulePath.c_str(), shortPath, MAX_PATH));
    // A hard link in the module's own directory: one volume, as hard links are on Windows.
    const std::string hardLink = BinPath("kvshellsearch-linked.dll");
    DeleteFileA(hardLink.c_str());
    ASSERT_TRUE(CreateHardLinkA(hardLink.c_str(), modulePath.c_str(), nullptr));

    const struct {
        const char* label;
        std::string path;
    } cases[] = {
        {"as loaded", modulePath},
        {"upper case", upper},
        {"forward slashes", slashes},
        {"dot segments", dotted},
        {"short name", shortPath},
        {"hard link", hardLink},
    };
    for (const auto& c : cases) {
        ResetRegistry();
        SetSatellite(c.path);
        EXPECT_EQ(OwnDisplayName, RegisteredDisplayName(modulePath)) << c.label << ": " << c.path;
        EXPECT_TRUE(FreedAtDetach(modulePath).empty()) << c.label;
        EXPECT_EQ(nullptr, GetModuleHandleA(modulePath.c_str()))
            << c.label << ": the module is still loaded";
    }
}

// Wine shows one Unix file on two drives (C: and Z:) with two volume serial numbers, so the
// module cannot tell that a hard link on the other drive is its own file, and the loader hands
// back the module's own handle for it. That reference is kept: the module then stays loaded in
// this process, and its detach never gives back a reference to itself.
TEST_F(SatelliteTest, OwnHandleFromTheLoaderIsKeptNeverFreed)
{
    const std::string modulePath = BinPath(ModuleFile);
    const std::string otherDrive = MakeScratchDirectory() + "\\linked.dll";
    ASSERT_TRUE(CreateHardLinkA(otherDrive.c_str(), modulePath.c_str(), nullptr));
    SetSatellite(otherDrive);
    EXPECT_EQ(OwnDisplayName, RegisteredDisplayName(modulePath));
    HMODULE module = LoadLibraryA(modulePath.c_str());
    ASSERT_NE(nullptr, module);
    FreeLibrary(module);
    EXPECT_EQ(module, GetModuleHandleA(modulePath.c_str()))
        << "the loader's extra reference to the module itself was given back";
}

namespace {
std::vector<std::string> LogLines(const std::string& path)
{
    std::vector<std::string> lines;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return lines;
    char line[256];
    while (fgets(line, sizeof line, file) != nullptr)
        lines.push_back(line);
    fclose(file);
    return lines;
}
} // namespace

// At process end the system takes everything back, and other modules may already be gone: the
// detach then releases nothing. An unload in a running process still releases the satellite.
TEST_F(SatelliteTest, ProcessEndReleasesNothingUnloadReleasesTheSatellite)
{
    SetSatellite(BinPath("test_satellite.dll"));
    const std::string scratch = MakeScratchDirectory();
    const struct {
        const char* mode;
        size_t released;
    } cases[] = {{"exit", 0}, {"unload", 1}};
    for (const auto& c : cases) {
        const std::string log = scratch + "\\" + c.mode + ".log";
        EXPECT_EQ(0,
            RunProgram("\"" + BinPath("process_host.exe") + "\" " + c.mode + " \""
                + BinPath(ModuleFile) + "\" \"" + log + "\""))
            << c.mode;
        EXPECT_EQ(c.released, LogLines(log).size()) << c.mode << ": FreeLibrary calls at detach";
    }
}
