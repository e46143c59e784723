// Module entry, module-wide state and the unload question.
#include <windows.h>

#include <new>

#include "kvshellsearch.h"
#include "preferences.h"
#include "stack_guard.h"

HMODULE OwnModule;
HMODULE ResourceModule;
volatile LONG LiveObjectCount;
volatile LONG ServerLockCount;

// {5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}
const CLSID CLSID_ShellSearch
    = {0x5e3c1a77, 0x0b94, 0x4f2d, {0x9a, 0x61, 0x7c, 0x2e, 0x8d, 0x40, 0xb5, 0x13}};

// Volume and file index: the same for every spelling of one file's path (case, short names,
// "..", forward slashes, hard links). Network redirectors and some file systems report an index
// of zero for every file, which identifies nothing: such a file's identity is unknown.
static bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& identity)
{
    // Asking for no access at all only queries the file; it can never conflict with the loader.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool known = GetFileInformationByHandle(file, &identity) != FALSE
        && (identity.nFileIndexHigh != 0 || identity.nFileIndexLow != 0);
    CloseHandle(file);
    return known;
}

static bool IsOwnModuleFile(const char* path)
{
    char own[TextBufferSize] = {};
    DWORD length = GetModuleFileNameA(OwnModule, own, TextBufferSize - 1);
    if (length == 0 || length >= TextBufferSize - 1)
        return false;

    char fullPath[TextBufferSize] = {};
    DWORD fullLength = GetFullPathNameA(path, TextBufferSize, fullPath, nullptr);
    if (fullLength != 0 && fullLength < TextBufferSize && lstrcmpiA(fullPath, own) == 0)
        return true;

    BY_HANDLE_FILE_INFORMATION ours = {};
    BY_HANDLE_FILE_INFORMATION theirs = {};
    return FileIdentity(own, ours) && FileIdentity(path, theirs)
        && ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber
        && ours.nFileIndexHigh == theirs.nFileIndexHigh
        && ours.nFileIndexLow == theirs.nFileIndexLow;
}

// The translated resource module named by the player's preferences, or null.
static HMODULE LoadSatelliteModule()
{
    char* path = new (std::nothrow) char[SatellitePathBlockSize]();
    if (path == nullptr)
        return nullptr;

    HMODULE satellite = nullptr;
    // A preference naming this very module means our own texts: nothing is loaded for it.
    if (ReadSatellitePath(GetProductName(), 0, path).result == TextReadResult::Read
        && !IsOwnModuleFile(path)) {
        // As data only: a satellite holds strings, and no code of its own may run inside the
        // shell's process, least of all under the loader lock we are holding here.
        satellite = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    delete[] path;

    // Should the loader still hand back our own image, its reference is kept: the module then
    // only stays loaded. Giving it back here could drop the loader's own reference in the middle
    // of our attach.
    if (satellite == OwnModule)
        satellite = nullptr;
    return satellite;
}

// Kept small on purpose: the loader lock is held here, inside whatever process loaded us.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI DllMain(
    HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
#ifdef KV_STACK_GUARD
        InitializeStackGuard();
#endif
        OwnModule = instance;
        // The shell runs many threads; the module has nothing to do for them.
        DisableThreadLibraryCalls(instance);
        ResourceModule = LoadSatelliteModule();
        if (ResourceModule == nullptr)
            ResourceModule = OwnModule;
        break;
    case DLL_PROCESS_DETACH:
        // A non-null reserved argument: the process is ending. The system takes everything back,
        // and other modules may already be gone; touch nothing.
        if (reserved != nullptr)
            break;
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

// COM's rule: neither a live object nor a server lock may be left when the module goes.
STDAPI DllCanUnloadNow()
{
    return LiveObjectCount == 0 && ServerLockCount == 0 ? S_OK : S_FALSE;
}
