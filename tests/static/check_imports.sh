#!/bin/sh
# The module imports exactly kernel32, advapi32, user32 and ole32, which every Windows release
# it targets has; no C runtime DLL (the first Windows 95 has no msvcrt.dll). Either bitness.
# It looks up no export at run time either: its attach runs under the loader lock, where a
# forwarded export (advapi32's forward to newer DLLs on Windows 7 and later) can load a DLL.
set -u
dll=$1
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
expected="advapi32.dll kernel32.dll ole32.dll user32.dll "
if [ "$imports" != "$expected" ]; then
    echo "FAIL: $dll imports ${imports:-nothing}; expected exactly $expected"
    exit 1
fi
lookups=$(echo "$dump" | grep -oE '\b(GetProcAddress|LoadLibraryA|LoadLibraryW|LoadLibraryExW)\b' | sort -u | tr '\n' ' ')
if [ -n "$lookups" ]; then
    echo "FAIL: $dll imports $lookups; the module loads no code and looks up no export"
    exit 1
fi
echo "$dll imports $imports"
