#!/bin/sh
# Runs one Windows program under Wine for CTest and the scripts:
#   wine-run.sh PROGRAM [ARGS...]        under wine64 on the host (scripts/wine-prefix.sh)
#   wine-run.sh --32 PROGRAM [ARGS...]   under 32-bit Wine in the i386 root (scripts/wine32-session.sh)
# The program's output goes through a file, not through CTest's pipe: Wine's background processes
# would inherit that pipe and keep it open.
bits=64
if [ "$1" = "--32" ]; then
    bits=32
    shift
fi
if [ $bits = 32 ] && [ -n "$KV_WINE32_UNAVAILABLE" ]; then
    echo "skipped: $KV_WINE32_UNAVAILABLE"
    exit 77 # SKIP_RETURN_CODE of the 32-bit tests
fi
if [ -z "$WINEPREFIX" ] || { [ $bits = 32 ] && [ -z "$KV_WINE32_ROOT" ]; }; then
    echo "wine-run.sh: no Wine prefix for the $bits-bit programs; run the tests through scripts/test.sh" >&2
    exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
output=$(mktemp)
if [ $bits = 32 ]; then
    # The project tree is mounted at the same path inside the root, so paths stay as they are.
    chroot "$KV_WINE32_ROOT" /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec /usr/lib/wine/wine "$@"' \
        "$PWD" "$@" </dev/null >"$output" 2>&1
else
    "${WINE64:-/usr/lib/wine/wine64}" "$@" </dev/null >"$output" 2>&1
fi
status=$?
cat "$output"
rm -f "$output"
exit $status
