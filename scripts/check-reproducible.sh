#!/usr/bin/env bash
# Builds the release of the committed HEAD twice, from two clones in two different directories
# a few seconds apart, with another umask, time zone and locale, and compares the two SHA256SUMS:
# the same commit must give the same bytes. In the second build wixl starts a second late, inside
# the clock the build fixes for it: a package time taken from a clock that still runs differs.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/late-wixl"
printf '#!/bin/sh\nsleep 1\nexec %s "$@"\n' "$(command -v wixl)" >"$scratch/late-wixl/wixl"
chmod +x "$scratch/late-wixl/wixl"
for run in "first 022 UTC C $PATH" "second-run-elsewhere 077 Pacific/Chatham C.UTF-8 $scratch/late-wixl:$PATH"; do
    set -- $run
    git clone -q "$PWD" "$scratch/$1/kvshellsearch"
    (cd "$scratch/$1/kvshellsearch" && umask "$2" && export TZ=$3 LC_ALL=$4 PATH=$5 &&
        scripts/release.sh --out "$scratch/$1/dist" >/dev/null)
    sleep 2
done
if diff "$scratch/first/dist/SHA256SUMS" "$scratch/second-run-elsewhere/dist/SHA256SUMS"; then
    echo "reproducible: both builds of $(git rev-parse --short HEAD) gave the same bytes"
    cat "$scratch/first/dist/SHA256SUMS"
else
    echo "NOT reproducible: the two builds differ (above)" >&2
    exit 1
fi
