// Measures the module against the bare platform calls it stands on, side by side in one run:
// rounds alternate A and B, each row reports the medians and their ratio.
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

// Microseconds per operation for A and B, alternating A B A B over the rounds.
struct Comparison {
    double a;
    double b;
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
    return {Median(timesA), Median(timesB)};
}

void Row(const char* what, const char* a, const char* b, Comparison result, const char* goal)
{
    printf("| %s | %s: %.2f us | %s: %.2f us | %.3fx | %s |\n", what, a, result.a, b, result.b,
        result.a / result.b, goal);
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

    Comparison load = Compare(
        rounds, 200,
        [&] {
            FreeLibrary(LoadLibraryA(module.c_str()));
        },
        [&] {
            FreeLibrary(LoadLibraryA(floor.c_str()));
        });
    Row("load + unload", ModuleFileName, "empty DLL, same imports", load, "<= 1.5x");

    // The launch: the same command line, started by the module and by the bare calls.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string log = std::string(temp) + "kvbench-player.log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("KV_PLAYER_LOG", log.c_str());
    const std::string player = Beside("stand_in_player.exe");
    HKEY key = nullptr;
    RegCreateKeyExA(
        HKEY_CLASSES_ROOT, MainAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(player.c_str()),
        static_cast<DWORD>(player.size() + 1));
    RegCloseKey(key);

    HMODULE loaded = LoadLibraryA(module.c_str());
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(loaded, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    getClassObject(ClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    IContextMenu* menu = nullptr;
    factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu));
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;

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
    Row("launch (InvokeCommand)", "module", "bare registry reads + WinExec", launch, "<= 1.05x");

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
