#!/usr/bin/env bash
# Runs a command with 32-bit Wine ready: scripts/wine-session.sh i386, which says more.
#
#   scripts/wine32-session.sh COMMAND [ARGS...]
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
exec "$(dirname "$0")/wine-session.sh" i386 "$@"
