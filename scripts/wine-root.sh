#!/usr/bin/env bash
# The Debian roots that Wine runs in, outside the host's own packages and architectures, so the
# host's `wine` is left as it is:
#   i386   an i386 root with 32-bit Wine: the shipped 32-bit DLL's suite
#   wow64  an amd64 root with i386 added inside it and wine64 beside wine32: 32-bit and 64-bit
#          programs in one prefix, as on 64-bit Windows
#
#   scripts/wine-root.sh KIND            makes the root once (later calls find it ready), prints its path
#   scripts/wine-root.sh KIND --check    exit 0 when this host can execute 32-bit x86 code, else 3
#                                        with the reason printed
#   scripts/wine-root.sh KIND --clear    removes the root
#   scripts/wine-root.sh KIND --finish   the second step below alone, for the virtual machine
#
# A root is made in two steps. The host fetches it: debootstrap's first stage unpacks the base
# system, and the host's own apt, pointed at the root, downloads Wine and what it needs into the
# root's cache; none of the root's programs runs. Then it is finished where the root's programs
# run: debootstrap's second stage and apt's installation without network. The i386 root is
# finished on the host, or, where the host's kernel refuses 32-bit code (or with KV_32BIT_VM=1),
# in the virtual machine of scripts/vm32.sh, which has no network and needs none for this.
#
# The roots live outside the work tree, in $KV_WINE32_ROOT and $KV_WOW64_ROOT (default
# /var/cache/kvshellsearch/wine32-root and .../wow64-root), so every clone on the machine shares
# them. Making one is locked against a second run at once; a root that was not finished is made
# again from the start. The Debian mirror is the one the host's own apt configuration uses. This
# script leaves nothing mounted: scripts/wine-session.sh enters the root.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
cd "$project"

kind=${1:-}
shift || true
case "$kind" in
i386)
    root=${KV_WINE32_ROOT:-/var/cache/kvshellsearch/wine32-root}
    arch=i386
    foreign=
    packages="wine wine32"
    size="about a minute, about 0.9 GB"
    size_vm="about 10 minutes, about 0.9 GB"
    ;;
wow64)
    root=${KV_WOW64_ROOT:-/var/cache/kvshellsearch/wow64-root}
    arch=amd64
    foreign=i386
    packages="wine wine64 wine32"
    size="about a minute and a half, about 1.7 GB"
    size_vm=
    ;;
*)
    echo "usage: scripts/wine-root.sh i386|wow64 [--check|--clear|--finish]" >&2
    exit 2
    ;;
esac
lock="$root.lock"
# Written last; its content names what the root was made with, so a changed recipe remakes it.
ready_mark="$root/.kvshellsearch-ready"
recipe="bookworm $arch ${foreign:++$foreign }minbase $packages v1"

skip_status=3
no_i386="this host cannot execute 32-bit x86 code (no IA-32 emulation in its kernel)"

# A 100-byte i386 program that exits with 42: the plainest proof that this kernel runs 32-bit
# x86 code (a kernel without IA-32 emulation answers "Exec format error").
host_runs_i386() {
    local probe status
    probe=$(mktemp)
    python3 - "$probe" <<'PY'
import struct, sys
code = bytes.fromhex("31dbb32ab801000000cd80")  # xor ebx,ebx; mov bl,42; mov eax,1; int 0x80
size = 52 + 32 + len(code)
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, 0x08048054, 52, 0, 0, 52, 32, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, 0x08048000, 0x08048000, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + segment + code)
PY
    chmod +x "$probe"
    status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

# The mirror that serves the host's own Debian release, as apt itself resolved it.
host_mirror() {
    local codename mirror
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mirror=$(apt-cache policy 2>/dev/null | awk -v suite="$codename/main" '$3 == suite { print $2; exit }')
    if [ -z "$mirror" ]; then
        echo "wine-root: the host's apt configuration names no mirror for $codename/main" >&2
        return 1
    fi
    echo "$mirror"
}

mounted_below() {
    awk -v root="$root" 'index($2, root "/") == 1 || $2 == root { found = 1 } END { exit !found }' /proc/mounts
}

# Step one, anywhere: the base system unpacked and Wine's packages downloaded into the root.
fetch_root() {
    local mirror codename
    mirror=$(host_mirror) || return
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    debootstrap --foreign --arch=$arch --variant=minbase "$codename" "$root" "$mirror" || return
    # The root's apt lists, keys and cache, the host's apt program: nothing of the root runs.
    local apt=(apt-get -q -y -o Dir="$root" -o Dir::State::status="$root/var/lib/dpkg/status"
        -o APT::Architecture=$arch -o "APT::Architectures::=$arch" -o Debug::NoLocking=1)
    [ -z "$foreign" ] || apt+=(-o "APT::Architectures::=$foreign")
    "${apt[@]}" update || return
    "${apt[@]}" install --download-only --no-install-recommends $packages
}

# Step two, where the root's programs run: nothing is downloaded any more.
finish_root() {
    # The second stage and apt's maintainer scripts need /proc and /dev; they get them in a
    # mount namespace of this step's own, so nothing stays mounted. The virtual machine reaches
    # the root over 9p, which opens no device file: there /dev is the guest's own, bound, and
    # debootstrap is told it runs in a container, where it skips its device-file test.
    local container=
    [ -z "${KV_VM32:-}" ] || container=lxc
    unshare --mount --propagation private bash -c '
        set -e
        mount --rbind /dev "$1/dev"
        container=$4 chroot "$1" /debootstrap/debootstrap --second-stage
        mountpoint -q "$1/proc" || mount -t proc proc "$1/proc"
        [ -z "$2" ] || chroot "$1" dpkg --add-architecture "$2"
        chroot "$1" /usr/bin/env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-download --no-install-recommends $3
        chroot "$1" apt-get clean
    ' finish-root "$root" "$foreign" "$packages" "$container"
}

make_root() {
    if mounted_below; then
        echo "wine-root: something is still mounted below $root; not touching it" >&2
        return 1
    fi
    if [ -n "${KV_VM32:-}" ]; then
        echo "wine-root: the $kind root in $root is not made, and this virtual machine has no network; make it on the host: scripts/wine-root.sh $kind" >&2
        return 1
    fi
    rm -rf "$root"
    mkdir -p "$root"
    local finish=(finish_root) where=here
    if [ "$kind" = i386 ] && { [ "${KV_32BIT_VM:-}" = 1 ] || ! host_runs_i386; }; then
        finish=("$project/scripts/vm32.sh" "$project/scripts/wine-root.sh" "$kind" --finish)
        where="in a virtual machine" size=$size_vm
    fi
    echo "wine-root: making the $kind root in $root (once; fetched here, finished $where: $size)" >&2
    fetch_root >"$root.log" 2>&1 || {
        echo "wine-root: fetching the root failed (debootstrap's first stage, or apt's download); its log: $root.log" >&2
        return 1
    }
    "${finish[@]}" >>"$root.log" 2>&1 || {
        echo "wine-root: finishing the root $where failed; its log: $root.log" >&2
        return 1
    }
    echo "$recipe" >"$ready_mark"
    echo "wine-root: ready" >&2
}

case "${1:-}" in
--check)
    host_runs_i386 && exit 0
    echo "$no_i386"
    exit $skip_status
    ;;
--clear)
    mkdir -p "$(dirname "$lock")"
    exec 9>"$lock"
    flock 9
    if mounted_below; then
        echo "wine-root: something is still mounted below $root; not removing it" >&2
        exit 1
    fi
    rm -rf "$root" "$root.log"
    echo "wine-root: removed $root"
    exit 0
    ;;
--finish)
    # Step two alone, for the virtual machine; the host's run that started it holds the lock.
    finish_root
    exit
    ;;
"") ;;
*)
    echo "usage: scripts/wine-root.sh i386|wow64 [--check|--clear|--finish]" >&2
    exit 2
    ;;
esac

mkdir -p "$(dirname "$lock")"
exec 9>"$lock"
flock 9
if [ "$(cat "$ready_mark" 2>/dev/null)" != "$recipe" ]; then
    make_root
fi
# Wine needs the root's /tmp; an earlier run that lost it must not break every later one.
[ -d "$root/tmp" ] || install -d -m 1777 "$root/tmp"
echo "$root"
