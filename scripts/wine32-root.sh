#!/usr/bin/env bash
# The i386 Debian root that 32-bit Wine runs in: scripts/wine-root.sh i386, which says more.
#
#   scripts/wine32-root.sh [--check|--clear]
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
exec "$(dirname "$0")/wine-root.sh" i386 "$@"
