#!/usr/bin/env python3
"""Fails on any import that Windows 95 as first released does not have, in a 32-bit module or
program that runs on the customers' machines (the DLL, shellfind): a DLL it lacks (msvcrt.dll,
the C runtime, among them) stops the file from loading at all, and a function it lacks does the
same. Newer functions are looked up at run time (GetProcAddress), never imported. Wine has them
all and cannot show this, so the shipped bytes are checked against the list below.

The list holds what the Windows 95 (4.00.950) system DLLs export, for the functions we use; it is
from the period's SDK documentation, not measured on Windows 95. A new import that is truly
there is added here, with care.

Usage: check_win95_imports.py FILE...
"""
import re
import subprocess
import sys

WINDOWS_95 = {
    # CreateProcessA, GetExitCodeProcess, GetTempPathA, WaitForSingleObject, RegDeleteValueA,
    # RegEnumValueA and RegQueryInfoKeyA: the Win32 Programmer's Reference of 1995 documents each
    # with its Windows 95 behaviour (RegQueryInfoKey: "Windows 95: ... sets the members of the
    # FILETIME structure to zero").
    "kernel32.dll": """CloseHandle CreateFileA CreateProcessA DisableThreadLibraryCalls ExitProcess
        ExpandEnvironmentStringsA FormatMessageA FreeLibrary GetCommandLineA GetCurrentProcess
        GetCurrentProcessId GetCurrentThreadId GetEnvironmentVariableA GetExitCodeProcess
        GetFileAttributesA
        GetFileInformationByHandle GetFullPathNameA GetLastError GetModuleFileNameA
        GetModuleHandleA GetProcAddress GetProcessHeap GetStdHandle GetSystemDirectoryA
        GetSystemTimeAsFileTime GetTempPathA GetTickCount GetVersionExA GetWindowsDirectoryA HeapAlloc HeapFree
        InterlockedDecrement InterlockedIncrement LoadLibraryExA MultiByteToWideChar
        QueryPerformanceCounter ReadFile SearchPathA SetCurrentDirectoryA SetFilePointer Sleep
        TerminateProcess WaitForSingleObject
        WideCharToMultiByte WinExec WriteFile lstrcatA lstrcmpA lstrcmpiA lstrcpynA lstrlenA""",
    "advapi32.dll": """RegCloseKey RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegEnumKeyExA
        RegEnumValueA RegOpenKeyExA RegQueryInfoKeyA RegQueryValueExA RegSetValueExA""",
    "user32.dll": """AppendMenuA CreatePopupMenu CreateWindowExA DefWindowProcA DestroyIcon
        DestroyMenu DestroyWindow DrawIconEx DrawTextA FillRect GetDC GetSysColor GetSysColorBrush
        KillTimer LoadStringA RegisterClassA ReleaseDC SendMessageA SetForegroundWindow SetTimer
        SystemParametersInfoA TrackPopupMenu wsprintfA""",
    "gdi32.dll": "CreateFontIndirectA DeleteObject SelectObject SetBkMode SetTextColor",
    "ole32.dll": "CLSIDFromString CoCreateInstance CoInitialize CoTaskMemFree CoUninitialize StringFromIID",
    "shell32.dll": "ExtractIconExA",
}
WINDOWS_95 = {dll: set(names.split()) for dll, names in WINDOWS_95.items()}


def imports(path):
    """{dll (lower case): [function, ...]} from objdump's import table."""
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True,
                          text=True, check=True).stdout
    found = {}
    dll = None
    for line in dump.splitlines():
        name = re.match(r"\s*DLL Name: (\S+)", line)
        if name:
            dll = name.group(1).lower()
            found[dll] = []
        elif dll and re.match(r"\s*[0-9a-f]+\s+\d+\s+\S+$", line):
            found[dll].append(line.split()[-1])
        elif dll and not line.strip():
            dll = None
    return found


def main(paths):
    if not paths:
        print(__doc__, file=sys.stderr)
        return 2
    failures = 0
    for path in paths:
        found = imports(path)
        if not found:
            print(f"FAIL: {path}: no import table read")
            failures += 1
            continue
        for dll, functions in sorted(found.items()):
            if dll not in WINDOWS_95:
                print(f"FAIL: {path} imports {dll}, which Windows 95 as first released lacks")
                failures += 1
                continue
            for function in functions:
                if function not in WINDOWS_95[dll]:
                    print(f"FAIL: {path} imports {dll}!{function}, not known in Windows 95")
                    failures += 1
        count = sum(len(f) for f in found.values())
        print(f"{path}: {count} imports from {', '.join(sorted(found))}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
