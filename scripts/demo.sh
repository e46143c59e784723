#!/usr/bin/env bash
# The main job, shown end to end: build both DLLs, then demonstrate the whole flow
# (scripts/demo-flow.sh) twice, each in a throwaway Wine prefix: first the shipped 32-bit DLL
# under 32-bit Wine in the i386 root, then the 64-bit DLL under wine64.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

printf '== Installing what is missing\n'
scripts/install-deps.sh

printf '\n== Building the shipped 32-bit DLL, the 64-bit DLL and the stand-in players\n'
for preset in i686 x86_64 i686-tests; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset -j"$(nproc)" >/dev/null
done
file build/i686/src/kvshellsearch/kvshellsearch.dll build/x86_64/bin/kvshellsearch64.dll | sed 's/^/   /'

printf '\n== The shipped 32-bit DLL under 32-bit Wine (i386 root: %s)\n' \
    "${KV_WINE32_ROOT:-/var/cache/kvshellsearch/wine32-root}"
if reason=$(scripts/wine32-root.sh --check); then
    scripts/wine32-session.sh scripts/demo-flow.sh 32
else
    echo "   skipped: $reason"
fi

printf '\n== The 64-bit DLL under wine64\n'
(source scripts/wine-prefix.sh && scripts/demo-flow.sh 64)

printf '\nDemonstration complete: every step succeeded.\n'
