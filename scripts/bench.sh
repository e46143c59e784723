#!/usr/bin/env bash
# The benchmark: footprint of both DLLs, then load cost, launch overhead and the object cycle,
# each measured side by side with its floor in the same run: the shipped 32-bit DLL under 32-bit
# Wine in the i386 root, then the 64-bit DLL under wine64.
# Usage: scripts/bench.sh [ROUNDS]
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686 -j"$(nproc)" >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j"$(nproc)" >/dev/null
cmake --preset i686-tests >/dev/null
cmake --build --preset i686-tests -j"$(nproc)" >/dev/null

shipped=build/i686/src/kvshellsearch/kvshellsearch.dll
bin=build/x86_64/bin

echo "Machine: $(uname -srm), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(wine --version 2>/dev/null)"
echo
echo "Footprint (budget for the shipped i686 DLL: 48 KiB in all, 16 KiB without resources):"
echo
echo "| DLL | file size | without resources | imports |"
echo "|---|---|---|---|"
python3 tools/pe_footprint.py report "$shipped" "$bin/kvshellsearch64.dll" |
    sed -E 's/^([^:]+): ([0-9]+) bytes, ([0-9]+) without resources, imports (.*)$/| \1 | \2 | \3 | \4 |/'
echo

rounds=${1:-15}
echo "## The shipped 32-bit DLL, 32-bit Wine"
echo
if reason=$(scripts/wine32-root.sh --check); then
    scripts/wine32-session.sh cmake/wine-run.sh --32 build/i686-tests/bin/kvbench.exe "$rounds" |
        sed 's/\r$//'
else
    echo "skipped: $reason"
fi
echo
echo "## The 64-bit DLL, wine64"
echo
(source scripts/wine-prefix.sh && cmake/wine-run.sh "$bin/kvbench.exe" "$rounds" | sed 's/\r$//')
