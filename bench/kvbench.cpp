// Measures the module against the bare platform calls it stands on, side by side in one run:
// rounds alternate A and B, each row reports the medians and their ratio.
//
// The module's own launch work (registry reads, product name, command line) takes microseconds,
// while starting a process under Wine takes milliseconds and scatters by 10 to 20 % from round
// to round. So the launch is measured twice: its own work, with WinExec intercepted as the tests
// intercept it, against the same work done by bare calls; and end to end, process start
// included, as context with its minimum, median and maximum.
//
//   kvbench [ROUNDS]
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/import_hook.h"

namespace {

const CLSID ClassId
    = {0x5e3c1a77, 0x0b94, 0x4f2d, {0x9a, 0x61, 0x7c, 0x2e, 0x8d, 0x40, 0xb5, 0x13}};
constexpr char MainAppKey[] = "Software\\Tessalquorin\\Kestrovane\\6.0\\Preferences\\MainApp";
constexpr char SatelliteKey[]
    = "Software\\Tessalquorin\\Kestrovane\\6.0\\Preferences\\SatelliteShellSearch";

void SetPreference(const char* key, const std::string& value)
{
    HKEY handle = nullptr;
    RegCreateKeyExA(
        HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
        static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

std::string Beside(const char* name)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH - 1);
    std::string path(self);
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Microseconds per operation for A and B in each round, rounds alternating A B A B.
struct Comparison {
    std::vector<double> a;
    std::vector<double> b;
    double Ratio() const { return Median(a) / Median(b); }
};
// settle, when given, runs untimed after every operation (to let a started process finish).
Comparison Compare(int rounds, int perRound, const std::function<void()>& a,
    const std::function<void()>& b, const std::function<void()>& settle = nullptr)
{
    std::vector<double> timesA, timesB;
    for (int round = 0; round < rounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            const auto& operation = side == 0 ? a : b;
            double elapsed = 0;
            for (int i = 0; i < perRound; ++i) {
                double start = Seconds();
                operation();
                elapsed += Seconds() - start;
                if (settle)
                    settle();
            }
            (side == 0 ? timesA : timesB).push_back(elapsed * 1e6 / perRound);
        }
    }
    return {timesA, timesB};
}

// For work of microseconds, where the machine's own speed drifts within a round: A and B
// alternate in blocks of a few calls (A B B A ...), so that both meet the same conditions.
Comparison CompareInterleaved(int rounds, int perRound, int block, const std::function<void()>& a,
    const std::function<void()>& b)
{
    std::vector<double> timesA, timesB;
    for (int round = 0; round < rounds; ++round) {
        double elapsed[2] = {0, 0};
        for (int done = 0, turn = 0; done < perRound; done += block, ++turn) {
            for (int step = 0; step < 2; ++step) {
                const int side = (turn + step) % 2 == 0 ? 0 : 1; // A B, then B A
                const auto& operation = side == 0 ? a : b;
                double start = Seconds();
                for (int i = 0; i < block; ++i)
                    operation();
                elapsed[side] += Seconds() - start;
            }
        }
        timesA.push_back(elapsed[0] * 1e6 / perRound);
        timesB.push_back(elapsed[1] * 1e6 / perRound);
    }
    return {timesA, timesB};
}

void Row(const char* what, const char* a, const char* b, const Comparison& result, const char* goal)
{
    printf("| %s | %s: %.2f us | %s: %.2f us | %.3fx | %s |\n", what, a, Median(result.a), b,
        Median(result.b), result.Ratio(), goal);
}

// For a row whose rounds scatter: minimum, median and maximum of each side.
std::string Spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    char text[96];
    snprintf(
        text, sizeof text, "%.0f / %.0f / %.0f us", values.front(), Median(values), values.back());
    return text;
}

// The launch's own work ends in WinExec: recorded here, in place of starting a process.
char recordedCommand[1024];
UINT WINAPI RecordingWinExec(LPCSTR commandLine, UINT)
{
    lstrcpynA(recordedCommand, commandLine, sizeof recordedCommand);
    return 33; // what WinExec returns for a started program
}

long allocations;
LPVOID WINAPI CountingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    ++allocations;
    return HeapAlloc(heap, flags, size);
}

// Waits until the stand-in players have written expectedLines lines in all.
void WaitForPlayers(const std::string& log, size_t expectedLines)
{
    for (int i = 0; i < 500; ++i) {
        FILE* file = fopen(log.c_str(), "rb");
        size_t lines = 0;
        if (file != nullptr) {
            for (int c; (c = fgetc(file)) != EOF;)
                lines += c == '\n';
            fclose(file);
        }
        if (lines >= expectedLines)
            return;
        Sleep(10);
    }
}

// The module beside the benchmark: each bitness has a file name of its own.
#ifdef _WIN64
constexpr char ModuleFileName[] = "kvshellsearch64.dll";
#else
constexpr char ModuleFileName[] = "kvshellsearch.dll";
#endif

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? atoi(argv[1]) : 15;
    const std::string module = Beside(ModuleFileName);
    const std::string floor = Beside("bench_floor.dll");

    printf("| measure | A | B | A/B | goal |\n|---|---|---|---|---|\n");

    // Attach reads the satellite preference; with one set, it also checks that the file is not
    // its own (which opens files) and loads the satellite as data.
    auto loadUnload = [&](const char* label, const char* goal) {
        Comparison load = CompareInterleaved(
            rounds, 200, 10,
            [&] {
                FreeLibrary(LoadLibraryA(module.c_str()));
            },
            [&] {
                FreeLibrary(LoadLibraryA(floor.c_str()));
            });
        Row(label, ModuleFileName, "empty DLL, same imports", load, goal);
    };
    loadUnload("load + unload, no satellite preference", "<= 1.5x");
    SetPreference(SatelliteKey, Beside("kvshellsearch-de.dll"));
    loadUnload("load + unload, satellite preference set", "");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, SatelliteKey);

    // The launch: the same command line, started by the module and by the bare calls.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string log = std::string(temp) + "kvbench-player.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("KV_PLAYER_LOG", log.c_str());
    const std::string player = Beside("stand_in_player.exe");
    SetPreference(MainAppKey, player);

    HMODULE loaded = LoadLibraryA(module.c_str());
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(loaded, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    getClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    IContextMenu* menu = nullptr;
    factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu));
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;

    // The launch's own work: InvokeCommand with WinExec intercepted, against the same work done
    // by bare calls (the preference's key path formatted with the product name, the registry
    // read, the command line formatted) ending in the same intercepted call.
    Comparison ownWork;
    {
        ImportHook hook(
            loaded, "KERNEL32.dll", "WinExec", reinterpret_cast<void*>(&RecordingWinExec));
        if (!hook.Installed()) {
            printf("| launch, own work | WinExec cannot be intercepted | | | |\n");
        } else {
            ownWork = CompareInterleaved(
                rounds * 2 + 1, 2000, 10,
                [&] {
                    menu->InvokeCommand(&info);
                },
                [&] {
                    char keyPath[1024];
                    wsprintfA(keyPath, "Software\\Tessalquorin\\%s\\%d.%d\\Preferences\\MainApp",
                        "Kestrovane", 6, 0);
                    HKEY preference = nullptr;
                    char path[1024] = {};
                    DWORD size = sizeof path;
                    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath, 0, KEY_READ, &preference)
                        == ERROR_SUCCESS) {
                        RegQueryValueExA(
                            preference, "", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
                        RegCloseKey(preference);
                    }
                    char command[1024];
                    wsprintfA(command, "\"%s\" /search", path);
                    RecordingWinExec(command, SW_SHOWDEFAULT);
                });
            Row("launch, own work", "InvokeCommand, WinExec intercepted",
                "bare registry reads + formatting", ownWork, "<= 1.05x");
        }
    }

    // Each started player is let finish, untimed, before the next launch, so that one launch
    // does not pay for the last one's process still starting up.
    const int launchesPerRound = 4;
    const int launchRounds = rounds;
    size_t launched = 0;
    Comparison launch = Compare(
        launchRounds, launchesPerRound,
        [&] {
            menu->InvokeCommand(&info);
        },
        [&] {
            HKEY preference = nullptr;
            char command[1024] = "\"";
            DWORD size = sizeof command - 1;
            RegOpenKeyExA(HKEY_CLASSES_ROOT, MainAppKey, 0, KEY_READ, &preference);
            RegQueryValueExA(
                preference, "", nullptr, nullptr, reinterpret_cast<BYTE*>(command + 1), &size);
            RegCloseKey(preference);
            lstrcatA(command, "\" /search");
            WinExec(command, SW_SHOWDEFAULT);
        },
        [&] {
            WaitForPlayers(log, ++launched);
        });
    printf("| launch, including the process start (min / median / max) | InvokeCommand: %s | bare "
           "registry reads + WinExec: %s | %.3fx | context |\n",
        Spread(launch.a).c_str(), Spread(launch.b).c_str(), launch.Ratio());

    // WinExec returns only once the started player's first window waits for input, so the
    // shell's menu thread waits as long as the player takes to get there: one launch per delay
    // (three for the short ones, median), the last one a player that never gets there in time.
    SetPreference(MainAppKey, Beside("slow_player.exe"));
    for (DWORD delay : {0UL, 1000UL, 3000UL, 45000UL}) {
        SetEnvironmentVariableA("KV_PLAYER_START_DELAY_MS", std::to_string(delay).c_str());
        std::vector<double> held;
        for (int launch = 0; launch < (delay > 10000 ? 1 : 3); ++launch) {
            const double start = Seconds();
            menu->InvokeCommand(&info);
            held.push_back((Seconds() - start) * 1000);
            Sleep(400); // the player quits 200 ms after it reads input
        }
        printf("| launch held by a slow player | player's window reads input after %lu ms | "
               "InvokeCommand returned after %.0f ms | | context |\n",
            static_cast<unsigned long>(delay), Median(held));
    }
    SetEnvironmentVariableA("KV_PLAYER_START_DELAY_MS", nullptr);

    auto cycle = [&] {
        IClassFactory* classObject = nullptr;
        getClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&classObject));
        IUnknown* extension = nullptr;
        classObject->CreateInstance(
            nullptr, IID_IContextMenu, reinterpret_cast<void**>(&extension));
        IUnknown* init = nullptr;
        extension->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
        init->Release();
        extension->Release();
        classObject->Release();
    };
    std::vector<double> cycleTimes;
    for (int round = 0; round < rounds; ++round) {
        double start = Seconds();
        for (int i = 0; i < 100000; ++i)
            cycle();
        cycleTimes.push_back((Seconds() - start) * 1e9 / 100000);
    }
    long perCycle = 0;
    {
        ImportHook hook(
            loaded, "KERNEL32.dll", "HeapAlloc", reinterpret_cast<void*>(&CountingHeapAlloc));
        allocations = 0;
        for (int i = 0; i < 1000; ++i)
            cycle();
        perCycle = hook.Installed() ? allocations / 1000 : -1;
    }
    printf("| object cycle | %.0f ns per cycle | %ld heap allocations per cycle | | |\n",
        Median(cycleTimes), perCycle);

    menu->Release();
    factory->Release();
    FreeLibrary(loaded);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "Software\\Tessalquorin");
    DeleteFileA(log.c_str());
    return 0;
}
