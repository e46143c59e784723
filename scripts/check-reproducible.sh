#!/usr/bin/env bash
# Builds the release of the committed HEAD twice, from two clones in two different directories
# a few seconds apart, and compares the two SHA256SUMS: the same commit must give the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for run in first second-run-elsewhere; do
    git clone -q "$PWD" "$scratch/$run/kvshellsearch"
    (cd "$scratch/$run/kvshellsearch" && scripts/release.sh --out "$scratch/$run/dist" >/dev/null)
    sleep 2
done
if diff "$scratch/first/dist/SHA256SUMS" "$scratch/second-run-elsewhere/dist/SHA256SUMS"; then
    echo "reproducible: both builds of $(git rev-parse --short HEAD) gave the same bytes"
    cat "$scratch/first/dist/SHA256SUMS"
else
    echo "NOT reproducible: the two builds differ (above)" >&2
    exit 1
fi
