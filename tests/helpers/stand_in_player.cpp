// Stands in for the player: appends the path it was started from and its full command line,
// as one line "<module path>|<command line>", to the file named by KV_PLAYER_LOG.
#include <windows.h>

#include <string.h>

int main()
{
    char logPath[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("KV_PLAYER_LOG", logPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH - 1);

    HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return 3;
    const char* commandLine = GetCommandLineA();
    DWORD written = 0;
    WriteFile(log, self, static_cast<DWORD>(strlen(self)), &written, nullptr);
    WriteFile(log, "|", 1, &written, nullptr);
    WriteFile(log, commandLine, static_cast<DWORD>(strlen(commandLine)), &written, nullptr);
    WriteFile(log, "\n", 1, &written, nullptr);
    CloseHandle(log);
    return 0;
}
