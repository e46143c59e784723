#include "shell_paths.h"

#include "console.h"
#include "preferences.h"
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

void GetShellDirectory(char* directory)
{
    if (GetWindowsDirectoryA(directory, MAX_PATH) == 0)
        directory[0] = '\0';
}

// Looks for a bare name where the shell's process finds it: the Windows directory (where
// explorer.exe lies, and so the shell's own directory), the system directory, then PATH.
static bool FindInShellDirectories(const char* name, char* found)
{
    char windows[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    GetShellDirectory(windows);
    GetSystemDirectoryA(system, MAX_PATH);
    char searchPath[4096] = {};
    char environmentPath[3072] = {};
    DWORD length = GetEnvironmentVariableA("PATH", environmentPath, sizeof environmentPath);
    if (length >= sizeof environmentPath)
        environmentPath[0] = '\0';
    FormatText(searchPath, sizeof searchPath, "%s;%s;%s", windows, system, environmentPath);
    char* filePart = nullptr;
    DWORD size = SearchPathA(searchPath, name, nullptr, PathTextSize, found, &filePart);
    if (size == 0 || size >= PathTextSize) {
        found[0] = '\0';
        return false;
    }
    return FileExists(found);
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
    return FindInShellDirectories(registered, found);
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
    found[0] = '\0';
    if (length == 0 || length + 5 >= PathTextSize) {
        program[0] = '\0';
        return false;
    }
    CopyBytes(program, start, length);
    program[length] = '\0';
    // CreateProcess adds ".exe" to a file name without an extension.
    char name[PathTextSize] = {};
    FormatText(name, sizeof name, "%s%s", program,
        FindChar(FileNameOfPath(program), '.') == nullptr ? ".exe" : "");
    if (IsFullPath(name)) {
        lstrcpynA(found, name, PathTextSize);
        return FileExists(found);
    }
    if (FindChar(name, '\\') == nullptr && FindChar(name, '/') == nullptr)
        return FindInShellDirectories(name, found);
    // A relative path with directories: from the shell's current directory, which is its own.
    char shell[MAX_PATH] = {};
    GetShellDirectory(shell);
    FormatText(found, PathTextSize, "%s\\%s", shell, name);
    return FileExists(found);
}
