#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both DLLs, runs the static checks, then
# both suites: the 64-bit build under wine64 in a throwaway prefix, and the shipped 32-bit DLL
# under 32-bit Wine in the i386 root (made on the first run, reused after); then the WoW64 part:
# the tests labelled wow64 once more in a WoW64 Wine (an amd64 root with wine32 beside wine64),
# where 32-bit and 64-bit programs run in one prefix. Extra arguments go to every ctest run (for
# example -R Launch).
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)

for preset in i686 x86_64 i686-tests; do
    cmake --preset $preset -DKV_WARNINGS_AS_ERRORS=$werror >/dev/null
    cmake --build --preset $preset -j"$jobs"
done

scripts/static-checks.sh

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0
echo "== 64-bit suite (x86_64 build, wine64)"
(source scripts/wine-prefix.sh && ctest --preset x86_64 "$@") 2>&1 | tee "$logs/x86_64" || status=1
echo "== 32-bit suite (the shipped i686 DLL, 32-bit Wine)"
scripts/wine32-session.sh ctest --preset i686 "$@" 2>&1 | tee "$logs/i686" || status=1
echo "== WoW64 part (the 64-bit build beside the shipped 32-bit files, WoW64 Wine)"
scripts/wine-session.sh wow64 ctest --preset x86_64 -L wow64 "$@" 2>&1 | tee "$logs/wow64" ||
    status=1
# Each session must leave its cached root as it found it: nothing of this run mounted or left
# (the session checks its own wineserver's directory too). Another run's session may be using
# the root at the same time: only this run's own paths are checked.
for root in "${KV_WINE32_ROOT:-/var/cache/kvshellsearch/wine32-root}" \
    "${KV_WOW64_ROOT:-/var/cache/kvshellsearch/wow64-root}"; do
    [ -d "$root" ] || continue
    if grep -q " $root$PWD" /proc/mounts || [ ! -d "$root/tmp" ] || [ -e "$root$PWD" ]; then
        echo "FAIL: a session left $root changed (a mount of this tree, its /tmp, or this tree's directories)"
        status=1
    fi
done

# Both summaries together, and one total line.
passed=0 failed=0 skipped=0
for suite in x86_64 i686 wow64; do
    summary=$(grep -E '^[0-9]+% tests passed' "$logs/$suite" || echo "no tests ran")
    total=$(sed -nE 's/.* tests failed out of ([0-9]+).*/\1/p' "$logs/$suite")
    fails=$(sed -nE 's/.*, ([0-9]+) tests failed out of.*/\1/p' "$logs/$suite")
    skips=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$logs/$suite" || true)
    echo "$suite suite: $summary (${skips:-0} of them skipped)"
    [ -n "$total" ] || { status=1; continue; }
    passed=$((passed + total - fails - skips))
    failed=$((failed + fails))
    skipped=$((skipped + skips))
done
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
