#!/bin/sh
# Checks the shipped 32-bit DLL without running it: its format and its exports.
set -u
dll=$1
objdump=i686-w64-mingw32-objdump
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

file_header=$($objdump -f "$dll") || { echo "FAIL: cannot read $dll"; exit 1; }
echo "$file_header" | grep -q "file format pei-i386" || fail "not a PE32 image for i386"

details=$($objdump -p "$dll")
exports=$(echo "$details" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^[[:space:]]*\[ *[0-9]+\] ' |
          sed 's/.*\] //')
expected="DllCanUnloadNow
DllGetClassObject
DllRegisterServer
DllUnregisterServer"
[ "$exports" = "$expected" ] || fail "exported names are not the four plain names: $exports"
# Ordinal base 1 and four entries in name order give ordinals 1 to 4.
echo "$details" | grep -q "Ordinal Base[[:space:]]*1" || fail "ordinal base is not 1"
echo "$details" | grep -qE '^[[:space:]]*\[ *3\] \+base\[ *4\]' || fail "no ordinal 4"
echo "$details" | grep -qE '^[[:space:]]*\[ *4\] \+base' && fail "more than four exports"

if [ $failures -eq 0 ]; then
    echo "shipped DLL: PE32 i386, exports $(echo $exports)"
fi
exit $failures
