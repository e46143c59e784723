// Which files the shell's process would reach: the module an InProcServer32 path names, and the
// program a command line starts.
#pragma once

#include <windows.h>

constexpr DWORD PathTextSize = 1024;

// A full path: a drive and a backslash, or a UNC path.
bool IsFullPath(const char* path);

// The file the shell loads for a registered module path: a full path as it is; any other path is
// looked for in the shell's own directories (the Windows directory, where explorer.exe lies, the
// system directory, then PATH), never the player's. False when nothing is found there.
bool FindModuleAsTheShell(const char* registered, char* found);

// The program that CreateProcess (and so WinExec) starts for a command line: the text inside its
// leading quotes (to the end when the quote is never closed), else up to the first space; found
// as CreateProcess finds it (".exe" added to a name without an extension, a bare name searched
// for). False when no such file exists.
bool FindProgramOfCommandLine(const char* commandLine, char* program, char* found);

// Whether a file exists and is no directory.
bool FileExists(const char* path);
