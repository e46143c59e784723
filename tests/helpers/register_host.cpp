// Loads a module and calls its DllRegisterServer or DllUnregisterServer, the way a registration
// tool does. Tests copy it under other names, so that Wine can report a different Windows
// version to each copy. Exit code 0 on success; otherwise the HRESULT is printed.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 3 || (strcmp(argv[2], "register") != 0 && strcmp(argv[2], "unregister") != 0)) {
        fprintf(stderr, "usage: register_host MODULE register|unregister\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 3;
    }
    const char* name
        = strcmp(argv[2], "register") == 0 ? "DllRegisterServer" : "DllUnregisterServer";
    auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (entry == nullptr)
        return 4;
    HRESULT result = entry();
    FreeLibrary(module);
    if (FAILED(result)) {
        printf("0x%08lX\n", static_cast<unsigned long>(result));
        return 1;
    }
    return 0;
}
