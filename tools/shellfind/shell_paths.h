// Which files the shell's process would reach: the module an InProcServer32 path names, and the
// program a command line starts.
#pragma once

#include <windows.h>

constexpr DWORD PathTextSize = 1024;

// A full path: a drive and a backslash, or a UNC path.
bool IsFullPath(const char* path);

// Where the shell's process finds a file named without a full path: the Windows directory (the
// directory of explorer.exe, and the shell's current one), the system directory, then PATH. Never
// the player's directory, nor the directory of whatever program asks.

// The shell's own directory, the Windows directory, where explorer.exe lies and from which it
// runs: room for MAX_PATH characters.
void GetShellDirectory(char* directory);

// The file the shell loads for a registered module path: a full path as it is, any other path
// where the shell's process finds it. False when no such file is there.
bool FindModuleAsTheShell(const char* registered, char* found);

// The program that WinExec (CreateProcess) starts for a command line in the shell's process: the
// text inside its leading quotes (to the end when the quote is never closed), else up to the first
// space, with ".exe" added to a name without an extension. False when no such file exists.
bool FindProgramOfCommandLine(const char* commandLine, char* program, char* found);

// Whether a file exists and is no directory.
bool FileExists(const char* path);
