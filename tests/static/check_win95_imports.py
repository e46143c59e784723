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
        InterlockedDecrement InterlockedIncrement IsDBCSLeadByte LoadLibraryExA MultiByteToWideChar
        QueryPerformanceCounter ReadFile SearchPathA SetCurrentDirectoryA SetFilePointer Sleep
        TerminateProcess WaitForSingleObject
        WideCharToMultiByte WinExec WriteFile lstrcatA lstrcmpA lstrcmpiA lstrcpynA lstrlenA""",
    "advapi32.dll": """RegCloseKey RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegEnumKeyExA
        RegEnumValueA RegOpenKeyExA RegQueryInfoKeyA RegQueryValueExA RegSetValueExA""",
    "user32.dll": """AppendMenuA CreatePopupMenu CreateWindowExA DefWindowProcA DestroyIcon
        DestroyMenu DestroyWindow DrawIconEx DrawTextA FillRect GetDC GetSysColor GetSysColorBrush
        KillTimer LoadStringA MessageBoxA RegisterClassA ReleaseDC SendMessageA SetForegroundWindow SetTimer
        SystemParametersInfoA TrackPopupMenu wsprintfA""",
    "gdi32.dll": "CreateFontIndirectA DeleteObject SelectObject SetBkMode SetTextColor",
    "ole32.dll": "CLSIDFromString CoCreateInstance CoInitialize CoTaskMemFree CoUninitialize StringFromIID",
    # SHGetMalloc, SHGetSpecialFolderLocation and SHGetPathFromIDListA: the shell's own
    # allocator and folders, which the period's Shell documentation gives as shell32 4.00, the
    # version of Windows 95 and NT 4.0.
    "shell32.dll": "ExtractIconExA SHGetMalloc SHGetPathFromIDListA SHGetSpecialFolderLocation",
}
# What an NSIS 3 installer's stub (exehead) imports beyond the above, for our setup program and
# the vendors' NSIS installers. Each is documented for Windows 95 in the Win32 API reference of
# the period; Windows 95 exports MoveFileExA but does not implement it (Knowledge Base Q129532,
# "MoveFileEx Not Supported in Windows 95 But Functionality Is", 1995), as it exports the
# security functions AdjustTokenPrivileges, LookupPrivilegeValueA and OpenProcessToken, which
# only work on NT: the stub calls these on NT only. Checked against the documentation, not
# against a Windows 95 export table.
NSIS_STUB = {
    "kernel32.dll": """CompareFileTime CopyFileA CreateDirectoryA CreateThread DeleteFileA
        FindClose FindFirstFileA FindNextFileA GetDiskFreeSpaceA GetFileSize
        GetPrivateProfileStringA GetShortPathNameA GetTempFileNameA GlobalAlloc GlobalFree
        GlobalLock GlobalUnlock MoveFileA MoveFileExA MulDiv RemoveDirectoryA
        SetEnvironmentVariableA SetErrorMode SetFileAttributesA SetFileTime
        WritePrivateProfileStringA lstrcpyA""",
    "advapi32.dll": "AdjustTokenPrivileges LookupPrivilegeValueA OpenProcessToken RegEnumKeyA",
    "user32.dll": """BeginPaint CallWindowProcA CharNextA CharPrevA CheckDlgButton CloseClipboard
        CreateDialogParamA DialogBoxParamA DispatchMessageA EmptyClipboard EnableMenuItem
        EnableWindow EndDialog EndPaint ExitWindowsEx FindWindowExA GetClassInfoA GetClientRect
        GetDlgItem GetDlgItemTextA GetMessagePos GetSystemMenu GetSystemMetrics GetWindowLongA
        GetWindowRect InvalidateRect IsWindow IsWindowEnabled IsWindowVisible LoadCursorA
        LoadImageA MessageBoxIndirectA OpenClipboard PeekMessageA PostQuitMessage ScreenToClient
        SendMessageTimeoutA SetClassLongA SetClipboardData SetCursor SetDlgItemTextA
        SetWindowLongA SetWindowPos SetWindowTextA ShowWindow""",
    "gdi32.dll": "CreateBrushIndirect GetDeviceCaps SetBkColor",
    "comctl32.dll": "ImageList_AddMasked ImageList_Create ImageList_Destroy InitCommonControls",
    "ole32.dll": "IIDFromString OleInitialize OleUninitialize",
    "shell32.dll": """SHBrowseForFolderA SHFileOperationA SHGetFileInfoA SHGetPathFromIDListA
        SHGetSpecialFolderLocation ShellExecuteExA""",
}
WINDOWS_95 = {dll: set(names.split()) | set(NSIS_STUB.get(dll, "").split())
              for dll, names in list(WINDOWS_95.items()) + [("comctl32.dll", "")]}


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
