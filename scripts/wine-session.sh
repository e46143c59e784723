#!/usr/bin/env bash
# Runs a command with a Wine of a root ready (scripts/wine-root.sh KIND): the root, entered in a
# mount namespace of this run's own with /proc, /dev and the project tree mounted, and a
# throwaway Wine prefix inside the root. The command itself runs on the host; it starts Windows
# programs with `cmake/wine-run.sh --32 PROGRAM` (i386) or `cmake/wine-run.sh PROGRAM` (wow64,
# 32-bit and 64-bit programs alike). It sees:
#   KV_WINE32_ROOT (i386) or KV_WOW64_ROOT (wow64)  the root;
#   WINEPREFIX and KV_WINEPREFIX_HOST  the prefix, in the build tree (the same path inside the
#   root and on the host); KV_WOW64=1 in a wow64 session, which Wine passes on to the programs.
# On a host that cannot execute 32-bit code it says so in one line and runs the command with
# KV_WINE32_UNAVAILABLE (or KV_WOW64_UNAVAILABLE) set, so that the programs report themselves
# skipped.
#
#   scripts/wine-session.sh i386|wow64 COMMAND [ARGS...]
#
# The mounts exist only in this run's namespace: they vanish with it, whatever ends the run, and
# are also undone, with the prefix's wineserver ended, when the command exits.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)

kind=${1:-}
shift || true
case "$kind" in
i386) label="32-bit Wine" wine=/usr/lib/wine/wine ;;
wow64) label="WoW64 Wine" wine=/usr/lib/wine/wine64 ;;
*)
    echo "usage: scripts/wine-session.sh i386|wow64 COMMAND [ARGS...]" >&2
    exit 2
    ;;
esac
if [ "${1:-}" != "--inside" ]; then
    [ $# -gt 0 ] || { echo "usage: scripts/wine-session.sh $kind COMMAND [ARGS...]" >&2; exit 2; }
    if ! reason=$("$project/scripts/wine-root.sh" "$kind" --check); then
        if [ "$kind" = i386 ]; then export KV_WINE32_UNAVAILABLE=$reason; else export KV_WOW64_UNAVAILABLE=$reason; fi
        echo "$label: skipped: $reason"
        exec "$@"
    fi
    root=$("$project/scripts/wine-root.sh" "$kind")
    exec unshare --mount --propagation private "$0" "$kind" --inside "$root" "$@"
fi
shift
root=$1
shift

export WINEDEBUG=-all
if [ "$kind" = i386 ]; then export KV_WINE32_ROOT=$root; else export KV_WOW64_ROOT=$root KV_WOW64=1; fi
# The prefix lives in the build tree, which Wine sees at the same path: the prefix's C: drive and
# the test programs are then on one file system, as on one Windows volume.
mkdir -p "$project/build"
prefix_host=$(mktemp -d "$project/build/$kind-prefix.XXXXXX")
export KV_WINEPREFIX_HOST=$prefix_host WINEPREFIX=$prefix_host
mounts=()
made_from=

in_root() {
    chroot "$root" "$@"
}

end_session() {
    in_root /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    in_root /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
    # The wineserver's socket directory is named after the prefix's device and inode.
    local server dir
    server=$(printf 'server-%x-%x' "$(stat -c %d "$prefix_host")" "$(stat -c %i "$prefix_host")")
    for dir in "$root"/tmp/wine-*/"$server"; do
        [ -d "$dir" ] && rm -rf "$dir" && rmdir "$(dirname "$dir")" 2>/dev/null
    done
    local left=""
    for dir in "$root"/tmp/wine-*/"$server"; do
        [ -d "$dir" ] && left="$left $dir"
    done
    rm -rf "$prefix_host"
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount -R "${mounts[i]}" 2>/dev/null || umount -R -l "${mounts[i]}" 2>/dev/null || true
    done
    # Only the directories made for the mount point; the root's own (its /tmp) stay.
    if [ -n "$made_from" ]; then
        dir=$project
        while rmdir "$root$dir" 2>/dev/null && [ "$dir" != "$made_from" ]; do
            dir=$(dirname "$dir")
        done
        [ -e "$root$project" ] && left="$left $root$project"
    fi
    # This run checks only what is its own: another run's session may be in the root too.
    if [ -n "$left" ]; then
        echo "FAIL: the $label session left behind:$left"
        exit 1
    fi
}
trap end_session EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mount --rbind /dev "$root/dev" && mounts+=("$root/dev")
# In scripts/vm32.sh's machine the root is reached over 9p, which cannot carry the wineserver's
# socket: the root's /tmp is this session's own there.
[ -z "${KV_VM32:-}" ] || { mount -t tmpfs tmp "$root/tmp" && mounts+=("$root/tmp"); }
# The first directory of the project's path that the root lacks, and so this run makes.
made_from=
dir=$project
while [ "$dir" != / ] && [ ! -e "$root$dir" ]; do
    made_from=$dir
    dir=$(dirname "$dir")
done
mkdir -p "$root$project"
mount --bind "$project" "$root$project" && mounts+=("$root$project")

# One wineserver for the whole run, kept a while between programs; it ends by itself if this
# script is ever killed before it can end it.
in_root /usr/lib/wine/wineserver -p30 </dev/null >/dev/null 2>&1
in_root "$wine" wineboot -i </dev/null >/dev/null 2>&1

status=0
"$@" || status=$?
exit $status
