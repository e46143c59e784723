#!/usr/bin/env bash
# Runs a command where 32-bit x86 code runs, on a host whose kernel refuses it: a virtual machine
# under qemu-system-x86_64's software emulation (TCG; KVM is not asked for), booting Debian's own
# amd64 kernel, whose IA-32 emulation is on, from an initramfs made here. The guest mounts the
# host's root file system over virtio-9p and runs the command in it, as root, in the directory it
# was started from: the same scripts, build trees and cached Wine roots as on the host.
#
#   scripts/vm32.sh COMMAND [ARGS...]    the command's output, and its exit status
#
# The kernel and busybox come from Debian's packages (apt-get download; nothing is installed on
# the host) and are kept with the initramfs in $KV_VM_CACHE (default /var/cache/kvshellsearch/vm),
# made once. Each run has its own machine, its own qemu process and its own scratch directory,
# so two runs at once do not meet; the guest's /proc, /dev and /sys are its own (a Wine session
# there gives its root a /tmp of its own too), and the host's /tmp is the guest's too (a clone
# there runs as anywhere else). Memory and processors: KV_VM_MEMORY (default 3072 MB),
# KV_VM_CPUS (default: the host's, at most 4). Everything runs about 9 to 16 times slower than
# natively. What the command prints comes back through the machine's serial console, with its
# line ends and colours taken off. The command sees KV_VM32=1; the machine has no network.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || { echo "usage: scripts/vm32.sh COMMAND [ARGS...]" >&2; exit 2; }

cache=${KV_VM_CACHE:-/var/cache/kvshellsearch/vm}
recipe="linux-image-amd64 busybox-static v5"
modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache
    9pnet 9pnet_virtio 9p"

make_cache() {
    command -v qemu-system-x86_64 >/dev/null || "$project/scripts/install-deps.sh" qemu-system-x86
    rm -rf "$cache"
    mkdir -p "$cache/debs" "$cache/tree"
    local kernel
    kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1)
    [ -n "$kernel" ] || { apt-get update -q >/dev/null; kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1); }
    (cd "$cache/debs" && apt-get download -q "$kernel" busybox-static >/dev/null 2>&1)
    for deb in "$cache"/debs/*.deb; do dpkg-deb -x "$deb" "$cache/tree"; done
    cp "$cache"/tree/boot/vmlinuz-* "$cache/vmlinuz"
    python3 - "$cache" $modules <<'PY'
import glob, os, stat, sys
cache, modules = sys.argv[1], sys.argv[2:]
entries = []  # (name, mode, data)
def add(name, mode, data=b""):
    entries.append((name, mode, data))
for directory in ("bin", "dev", "proc", "sys", "host", "lib"):
    add(directory, stat.S_IFDIR | 0o755)
add("bin/busybox", stat.S_IFREG | 0o755, open(os.path.join(cache, "tree/bin/busybox"), "rb").read())
for module in modules:
    found = glob.glob(os.path.join(cache, "tree/lib/modules/*/kernel/**", module + ".ko"), recursive=True)
    add(f"lib/{module}.ko", stat.S_IFREG | 0o644, open(found[0], "rb").read())
init = """#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in %s; do insmod /lib/$module.ko; done
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose host /host
run=$(sed -n 's/.*kv_run=\\([^ ]*\\).*/\\1/p' /proc/cmdline)
for dir in proc sys dev; do mount --rbind /$dir /host/$dir; done
mkdir -p /host/dev/shm
mount -t tmpfs shm /host/dev/shm
echo >/dev/console; echo "kv-vm: started" >/dev/console
chroot /host /bin/bash "$run/inside.sh" >/dev/console 2>&1
echo "kv-vm: the command ended" >/dev/console
sync
poweroff -f
""" % " ".join(modules)
add("init", stat.S_IFREG | 0o755, init.encode())
with open(os.path.join(cache, "initrd"), "wb") as out:
    for number, (name, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], 1):
        header = "070701" + "".join(f"{value:08x}" for value in (
            number, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name) + 1, 0))
        record = header.encode() + name.encode() + b"\0"
        record += b"\0" * (-len(record) % 4) + data + b"\0" * (-len(data) % 4)
        out.write(record)
PY
    rm -rf "$cache/tree" "$cache/debs"
    echo "$recipe" >"$cache/ready"
}

mkdir -p "$(dirname "$cache")"
exec 9>"$cache.lock"
flock 9
[ "$(cat "$cache/ready" 2>/dev/null)" = "$recipe" ] || make_cache
flock -u 9

# What the guest runs, in a directory of this run's own on the host, which the guest sees at the
# same path; the exit status comes back there.
run=$(mktemp -d /var/tmp/kv-vm.XXXXXX)
trap 'rm -rf "$run"' EXIT
{
    echo "cd $(printf '%q' "$PWD")"
    echo "export KV_VM32=1"
    # The host's environment, but for what belongs to the host's session alone.
    export -p | grep -vE '^declare -x (HOME|PWD|OLDPWD|SHLVL|TERM|DISPLAY|SSH_[A-Z_]*|_)=' || true
    printf '%q ' "$@"
    echo
    echo "echo \$? >$(printf '%q' "$run/status")"
} >"$run/inside.sh"

cpus=${KV_VM_CPUS:-$(nproc)}
[ "$cpus" -le 4 ] || cpus=4
qemu-system-x86_64 -machine q35,accel=tcg -cpu qemu64 -smp "$cpus" -m "${KV_VM_MEMORY:-3072}" \
    -kernel "$cache/vmlinuz" -initrd "$cache/initrd" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 kv_run=$run" \
    -virtfs local,path=/,mount_tag=host,security_model=passthrough,multidevs=remap \
    -nic none -nographic -no-reboot -monitor none -serial stdio </dev/null |
    sed -u -n 's/\r$//; s/\x1b\[[0-9;]*m//g; /^kv-vm: started/,${/^kv-vm: \|\] reboot: Power down/!p}' ||
    echo "vm32: qemu-system-x86_64 ended with exit status ${PIPESTATUS[0]}"
if [ ! -s "$run/status" ]; then
    echo "vm32: the virtual machine ended without running the command to its end"
    exit 1
fi
exit "$(cat "$run/status")"
