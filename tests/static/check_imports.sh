#!/bin/sh
# The module imports exactly kernel32, advapi32, user32 and ole32, which every Windows release
# it targets has; no C runtime DLL (the first Windows 95 has no msvcrt.dll). Either bitness.
set -u
dll=$1
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' |
          tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
expected="advapi32.dll kernel32.dll ole32.dll user32.dll "
if [ "$imports" != "$expected" ]; then
    echo "FAIL: $dll imports ${imports:-nothing}; expected exactly $expected"
    exit 1
fi
echo "$dll imports $imports"
