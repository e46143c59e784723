// The floor for the load-cost comparison: a module with the same imports as kvshellsearch.dll
// and nothing else to do when it is loaded.
#include <windows.h>
#include <objbase.h>

// Referenced, never called: keeps every import of the real module in this one's table.
extern "C" __declspec(dllexport) void* const KeptImports[] = {
    reinterpret_cast<void*>(&RegOpenKeyExA),
    reinterpret_cast<void*>(&RegQueryValueExA),
    reinterpret_cast<void*>(&RegCreateKeyExA),
    reinterpret_cast<void*>(&RegSetValueExA),
    reinterpret_cast<void*>(&RegDeleteKeyA),
    reinterpret_cast<void*>(&RegCloseKey),
    reinterpret_cast<void*>(&WinExec),
    reinterpret_cast<void*>(&LoadLibraryExA),
    reinterpret_cast<void*>(&LoadStringA),
    reinterpret_cast<void*>(&wsprintfA),
    reinterpret_cast<void*>(&StringFromIID),
    reinterpret_cast<void*>(&CoTaskMemFree),
    reinterpret_cast<void*>(&HeapAlloc),
    reinterpret_cast<void*>(&HeapFree),
    reinterpret_cast<void*>(&GetFileInformationByHandle),
    reinterpret_cast<void*>(&DisableThreadLibraryCalls),
};

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
