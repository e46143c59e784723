#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both DLLs, runs the static checks, then
# both suites: the 64-bit build under wine64 in a throwaway prefix, and the shipped 32-bit DLL
# under 32-bit Wine in the i386 root (made on the first run, reused after); then the WoW64 part:
# the tests labelled wow64 once more in a WoW64 Wine (an amd64 root with wine32 beside wine64),
# where 32-bit and 64-bit programs run in one prefix. Extra arguments go to every ctest run (for
# example -R Launch).
#
# Where the host's kernel refuses 32-bit code, or with KV_32BIT_VM=1 on any host, the module's
# own tests (CTest label module) run on the shipped DLL in a virtual machine under software
# emulation (scripts/vm32.sh), their time-outs scaled by 16; the rest of the 32-bit suite and the
# WoW64 part are reported skipped, one line each, with the reason.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)

# Empty where the host runs the 32-bit suite itself; else why it does not.
if [ "${KV_32BIT_VM:-}" = 1 ]; then
    vm_reason="KV_32BIT_VM=1 asks for the virtual machine"
else
    vm_reason=$(scripts/wine-root.sh i386 --check) || true
fi
scale=1
[ -z "$vm_reason" ] || scale=16

for preset in i686 x86_64 i686-tests; do
    cmake --preset $preset -DKV_WARNINGS_AS_ERRORS=$werror -DKV_TEST_TIMEOUT_SCALE=$scale >/dev/null
    cmake --build --preset $preset -j"$jobs"
done

scripts/static-checks.sh

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0
passed=0 failed=0 skipped=0
summaries=()
# Adds a suite's CTest run to the totals.
count() { # SUITE [LABEL]
    local log=$logs/$1 summary total fails skips
    summary=$(grep -E '^[0-9]+% tests passed' "$log" || echo "no tests ran")
    total=$(sed -nE 's/.* tests failed out of ([0-9]+).*/\1/p' "$log")
    fails=$(sed -nE 's/.*, ([0-9]+) tests failed out of.*/\1/p' "$log")
    skips=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
    summaries+=("${2:-$1 suite}: $summary (${skips:-0} of them skipped)")
    [ -n "$total" ] || { status=1; return; }
    passed=$((passed + total - fails - skips))
    failed=$((failed + fails))
    skipped=$((skipped + skips))
}
# A run that does not start: one line, no runner summary; its tests count as skipped.
not_run() { # SUITE WHAT COUNT REASON
    echo "$2: skipped ($3 tests): $4"
    summaries+=("$1 suite: $3 tests skipped: $4")
    skipped=$((skipped + $3))
}
tests_in() { # PRESET CTEST-ARGUMENTS...
    local preset=$1
    shift
    ctest --preset "$preset" -N "$@" | sed -n 's/^Total Tests: //p'
}

echo "== 64-bit suite (x86_64 build, wine64)"
(source scripts/wine-prefix.sh && ctest --preset x86_64 "$@") 2>&1 | tee "$logs/x86_64" || status=1
count x86_64
if [ -z "$vm_reason" ]; then
    echo "== 32-bit suite (the shipped i686 DLL, 32-bit Wine)"
    scripts/wine32-session.sh ctest --preset i686 "$@" 2>&1 | tee "$logs/i686" || status=1
    count i686
    echo "== WoW64 part (the 64-bit build beside the shipped 32-bit files, WoW64 Wine)"
    scripts/wine-session.sh wow64 ctest --preset x86_64 -L wow64 "$@" 2>&1 | tee "$logs/wow64" ||
        status=1
    count wow64
else
    echo "== 32-bit suite, the module's own tests (the shipped i686 DLL, 32-bit Wine in a virtual machine: $vm_reason)"
    # The machine has no network: the root is made before it starts (finished in a machine of
    # its own where the host cannot run it).
    if scripts/wine32-root.sh >/dev/null; then
        started=$(date +%s)
        scripts/vm32.sh scripts/wine32-session.sh ctest --preset i686 -L module "$@" 2>&1 |
            tee "$logs/i686-vm" || status=1
    else
        : >"$logs/i686-vm"
        status=1
    fi
    [ -z "${started:-}" ] || echo "the virtual machine took $(($(date +%s) - started)) s"
    count i686-vm "i686 suite, the module's own tests in the virtual machine"
    not_run i686 "== the rest of the 32-bit suite" "$(tests_in i686 -LE module "$@")" \
        "they need 32-bit programs on the host ($vm_reason); the virtual machine runs the module's own tests only"
    not_run wow64 "== WoW64 part" "$(tests_in x86_64 -L wow64 "$@")" \
        "a WoW64 Wine needs 32-bit programs on the host ($vm_reason)"
fi
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

# Every suite's summary, and one total line, last.
printf '%s\n' "${summaries[@]}"
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
