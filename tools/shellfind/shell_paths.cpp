#include "shell_paths.h"

#include "console.h"
#include "text.h"

bool IsFullPath(const char* path)
{
    const bool drive
        = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\';
    const bool unc = path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

bool FileExists(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FindModuleAsTheShell(const char* registered, char* found)
{
    found[0] = '\0';
    if (registered[0] == '\0')
        return false;
    if (IsFullPath(registered)) {
        lstrcpynA(found, registered, PathTextSize);
        return FileExists(found);
    }
    char windows[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    char searchPath[4096] = {};
    char environmentPath[3072] = {};
    DWORD length = GetEnvironmentVariableA("PATH", environmentPath, sizeof environmentPath);
    if (length >= sizeof environmentPath)
        environmentPath[0] = '\0';
    FormatText(searchPath, sizeof searchPath, "%s;%s;%s", windows, system, environmentPath);
    char* filePart = nullptr;
    DWORD size = SearchPathA(searchPath, registered, nullptr, PathTextSize, found, &filePart);
    if (size == 0 || size >= PathTextSize) {
        found[0] = '\0';
        return false;
    }
    return FileExists(found);
}

bool FindProgramOfCommandLine(const char* commandLine, char* program, char* found)
{
    size_t length = 0;
    const char* start = commandLine;
    if (*start == '"') {
        ++start;
        const char* closing = FindChar(start, '"');
        length = closing != nullptr ? static_cast<size_t>(closing - start) : TextLength(start);
    } else {
        const char* space = FindChar(start, ' ');
        length = space != nullptr ? static_cast<size_t>(space - start) : TextLength(start);
    }
    if (length >= PathTextSize)
        length = PathTextSize - 1;
    CopyBytes(program, start, length);
    program[length] = '\0';
    found[0] = '\0';
    if (length == 0)
        return false;
    char* filePart = nullptr;
    DWORD size = SearchPathA(nullptr, program, ".exe", PathTextSize, found, &filePart);
    if (size == 0 || size >= PathTextSize) {
        found[0] = '\0';
        return false;
    }
    return FileExists(found);
}
