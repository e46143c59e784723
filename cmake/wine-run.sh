#!/bin/sh
# Runs one Windows program under Wine for CTest and the scripts:
#   wine-run.sh PROGRAM [ARGS...]        under wine64 on the host (scripts/wine-prefix.sh), or, in
#                                        a WoW64 session (KV_WOW64_ROOT, scripts/wine-session.sh
#                                        wow64), under its wine64, which runs 32-bit programs too
#   wine-run.sh --32 PROGRAM [ARGS...]   under 32-bit Wine in the i386 root (scripts/wine32-session.sh)
#   wine-run.sh --heap-check [--32] ...  with Wine's heap checking, which the tests run under
#   wine-run.sh ... --marked ...         the program must prove it ran: our test programs write
#                                        the file named by KV_RAN_MARKER at start
# The program's output goes through a file, not through CTest's pipe: Wine's background processes
# would inherit that pipe and keep it open.
#
# Wine's heap checking is our debug heap: it fills freed blocks with 0xFEEEFEEE and checks block
# tails, so a read after free or an overrun changes what a test sees, and whatever the heap
# reports fails the program even where no assertion noticed.
bits=64
heap_check=
if [ "$1" = "--heap-check" ]; then
    heap_check=yes
    shift
fi
if [ "$1" = "--32" ]; then
    bits=32
    shift
fi
marked=
if [ "$1" = "--marked" ]; then
    marked=yes
    shift
fi
if [ $bits = 32 ] && [ -n "$KV_WINE32_UNAVAILABLE" ]; then
    echo "skipped: $KV_WINE32_UNAVAILABLE"
    exit 77 # SKIP_RETURN_CODE of the 32-bit tests
fi
if [ $bits = 64 ] && [ -n "$KV_WOW64_UNAVAILABLE" ]; then
    echo "skipped: $KV_WOW64_UNAVAILABLE"
    exit 77
fi
if [ -z "$WINEPREFIX" ] || { [ $bits = 32 ] && [ -z "$KV_WINE32_ROOT" ]; }; then
    echo "wine-run.sh: no Wine prefix for the $bits-bit programs; run the tests through scripts/test.sh" >&2
    exit 2
fi
if [ -n "$heap_check" ]; then
    export WINEDEBUG=-all,err+heap,warn+heap
else
    export WINEDEBUG="${WINEDEBUG:--all}"
fi
# A Wine that cannot run the program may still exit 0 (the host's wine64, given a 32-bit
# program, does): the program's own marker, in the tree both sides see, is the proof it ran.
marker=
if [ -n "$marked" ]; then
    marker=$(mktemp "$PWD/.kv-ran.XXXXXX") && rm -f "$marker"
    export KV_RAN_MARKER="$marker"
fi
output=$(mktemp)
run_once() {
    if [ $bits = 32 ]; then
        # The project tree is mounted at the same path inside the root, so paths stay as they are.
        chroot "$KV_WINE32_ROOT" /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec /usr/lib/wine/wine "$@"' \
            "$PWD" "$@" </dev/null >"$output" 2>&1
    elif [ -n "$KV_WOW64_ROOT" ]; then
        chroot "$KV_WOW64_ROOT" /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec /usr/lib/wine/wine64 "$@"' \
            "$PWD" "$@" </dev/null >"$output" 2>&1
    else
        "${WINE64:-/usr/lib/wine/wine64}" "$@" </dev/null >"$output" 2>&1
    fi
}
run_once "$@"
status=$?
# Once in some thousand starts Wine has ended a program before any of its code ran (exit 1 in
# 0.07 s, nothing printed), as its CreateProcess inside the tests has failed now and then. No
# marker and no crash means none of the test ran, so starting it once more repeats nothing.
if [ -n "$marker" ] && [ ! -e "$marker" ] && ! grep -q '^wine: Unhandled' "$output"; then
    cat "$output"
    echo "wine-run.sh: the program never ran (it wrote no marker, Wine's exit code $status); starting it once more"
    sleep 1
    run_once "$@"
    status=$?
fi
cat "$output"
# A program that crashed can still exit with 0: Wine's debugger, started for the crash, races
# its exit code. Wine's own report of the crash is what counts.
if grep -q '^wine: Unhandled' "$output"; then
    echo "wine-run.sh: the program crashed (above)"
    [ $status -ne 0 ] || status=1
fi
if [ -n "$heap_check" ] && grep -qE '(err|warn):heap' "$output"; then
    echo "wine-run.sh: Wine's heap checking reported a damaged or misused heap block (above)"
    [ $status -ne 0 ] || status=1
fi
if [ -n "$marker" ]; then
    if [ ! -e "$marker" ]; then
        echo "wine-run.sh: the program never ran (it wrote no marker); Wine's exit code $status proves nothing"
        [ $status -ne 0 ] || status=1
    fi
    rm -f "$marker"
fi
rm -f "$output"
exit $status
