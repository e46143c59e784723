// A translation module with code of its own. Satellites are loaded as data, so this must never
// run; if it does, it leaves a trace in the process's environment.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableA("KV_SATELLITE_CODE_RAN", "1");
    return TRUE;
}
