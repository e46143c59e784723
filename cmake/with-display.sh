#!/bin/sh
# Runs one test program that needs windows, as cmake/wine-run.sh does, in a virtual X display and
# a Wine prefix of its own: Wine's desktop takes its display when the prefix first starts, and
# the prefix the other tests share starts without one.
#   with-display.sh WINE-RUN-ARGUMENTS...   (those of cmake/wine-run.sh: [--heap-check] [--32]
#                                           [--marked] PROGRAM [ARGS...])
# Xvfb picks a free display (-displayfd), so two runs at once each have their own. Where the
# suite itself is skipped (a host without 32-bit code), so is this.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
case " $* " in *" --32 "*) bits=32 ;; *) bits=64 ;; esac
if [ $bits = 32 ] && [ -n "$KV_WINE32_UNAVAILABLE" ]; then
    exec "$here/wine-run.sh" "$@"
fi
if ! command -v Xvfb >/dev/null; then
    echo "with-display.sh: Xvfb is missing (Debian's xvfb; scripts/install-deps.sh installs it)"
    exit 1
fi
state=$(mktemp -d "$PWD/.kv-display.XXXXXX")
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$state/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
if [ ! -s "$state/display" ]; then
    echo "with-display.sh: Xvfb did not start"
    kill $xvfb 2>/dev/null
    rm -rf "$state"
    exit 1
fi
export DISPLAY=":$(cat "$state/display")"
export WINEPREFIX="$state/prefix"
mkdir -p "$WINEPREFIX"
# A new prefix links the user's Desktop to $HOME, where the window saves its report: a home of
# this run's own keeps the report out of the real one and away from another run's.
export HOME="$state/home"
mkdir -p "$HOME"
# The Wine of the suite: 32-bit in the i386 root (its /tmp is the root's; Xvfb's abstract socket
# reaches it), else the session's wine64.
in_wine() {
    if [ $bits = 32 ]; then
        chroot "$KV_WINE32_ROOT" "$@"
    elif [ -n "$KV_WOW64_ROOT" ]; then
        chroot "$KV_WOW64_ROOT" "$@"
    else
        "$@"
    fi
}
if [ $bits = 32 ]; then wine=/usr/lib/wine/wine; server=/usr/lib/wine/wineserver
else wine=/usr/lib/wine/wine64; server=/usr/lib/wine/wineserver; fi
in_wine "$server" -p30 </dev/null >/dev/null 2>&1
in_wine "$wine" wineboot -i </dev/null >/dev/null 2>&1
"$here/wine-run.sh" "$@"
status=$?
in_wine "$server" -k >/dev/null 2>&1
in_wine "$server" -w >/dev/null 2>&1
kill $xvfb 2>/dev/null
wait $xvfb 2>/dev/null
rm -rf "$state"
exit $status
