// Hosts a module the way a process ends with it loaded, for what only a process of its own can
// show:
//   process_host exit MODULE LOG    loads MODULE, then ends the process with it still loaded
//   process_host unload MODULE LOG  loads MODULE, then unloads it
// Either way, each FreeLibrary call the module makes during its detach appends a line to LOG.
//   process_host smash MODULE       calls MODULE's CopyIntoSmallBuffer with a text too long
#include <windows.h>

#include <string.h>

#include "support/import_hook.h"

namespace {

const char* logPath;

BOOL WINAPI RecordingFreeLibrary(HMODULE module)
{
    HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(log, "FreeLibrary\n", 12, &written, nullptr);
    CloseHandle(log);
    return FreeLibrary(module);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    HMODULE module = LoadLibraryA(argv[2]);
    if (module == nullptr)
        return 3;

    if (strcmp(argv[1], "smash") == 0) {
        auto copy = reinterpret_cast<void(__cdecl*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(module, "CopyIntoSmallBuffer")));
        if (copy == nullptr)
            return 4;
        copy("far more than eight characters, right over the canary and on");
        return 0; // only reached when the smashed canary went unnoticed
    }

    if (argc != 4)
        return 2;
    logPath = argv[3];
    ImportHook hook(
        module, "KERNEL32.dll", "FreeLibrary", reinterpret_cast<void*>(&RecordingFreeLibrary));
    if (!hook.Installed())
        return 5;
    if (strcmp(argv[1], "exit") == 0)
        ExitProcess(0);
    hook.Abandon(); // the module's table goes with it
    FreeLibrary(module);
    return 0;
}
