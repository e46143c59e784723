// Module entry, module-wide state and the unload question.
#include <windows.h>

#include <new>

#include "kvshellsearch.h"
#include "preferences.h"
#include "registry_access.h"

HMODULE OwnModule;
HMODULE ResourceModule;
volatile LONG LiveObjectCount;

// {5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}
const CLSID CLSID_ShellSearch
    = {0x5e3c1a77, 0x0b94, 0x4f2d, {0x9a, 0x61, 0x7c, 0x2e, 0x8d, 0x40, 0xb5, 0x13}};

// The translated resource module named by the player's preferences, or null.
static HMODULE LoadSatelliteModule()
{
    char keyPath[TextBufferSize] = {};
    FormatPreferenceKeyPath(SatelliteKeyTemplate, keyPath);

    // One byte more than is read, so a path that fills the read is still terminated.
    char* path = new (std::nothrow) char[ShortTextSize + 1]();
    if (path == nullptr)
        return nullptr;

    HMODULE satellite = nullptr;
    if (ReadDefaultTextValue(HKEY_CLASSES_ROOT, keyPath, path, ShortTextSize)) {
        // As data only: a satellite holds strings, and no code of its own may run inside the
        // shell's process, least of all under the loader lock we are holding here.
        satellite = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    delete[] path;

    // Naming this very module hands back our own handle with one more reference, which nothing
    // would ever drop: give it back at once.
    if (satellite != nullptr && satellite == OwnModule) {
        FreeLibrary(satellite);
        satellite = nullptr;
    }
    return satellite;
}

// Kept small on purpose: the loader lock is held here, inside whatever process loaded us.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        OwnModule = instance;
        ResourceModule = LoadSatelliteModule();
        if (ResourceModule == nullptr)
            ResourceModule = OwnModule;
        break;
    case DLL_PROCESS_DETACH:
        if (ResourceModule != nullptr && ResourceModule != OwnModule) {
            FreeLibrary(ResourceModule);
            ResourceModule = nullptr;
        }
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return LiveObjectCount == 0 ? S_OK : S_FALSE;
}
