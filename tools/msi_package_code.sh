#!/bin/sh
# Gives a package its package code (the summary's revision number), derived from everything in
# it but the summary: every table and every stream (the cabinet among them). Two packages that
# differ in anything get different codes, as Windows Installer requires, and the same package
# always gets the same one. Run it with the clock fixed (faketime), as it rewrites the summary,
# which carries times.
# Usage: msi_package_code.sh PACKAGE.msi
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
msi=$1
digest=$({
    for table in $(msiinfo tables "$msi" | grep -v '^_SummaryInformation$' | LC_ALL=C sort); do
        echo "== table $table"
        msiinfo export "$msi" "$table"
    done
    for stream in $(msiinfo streams "$msi" | grep -v 'SummaryInformation$' | LC_ALL=C sort); do
        echo "== stream $stream"
        msiinfo extract "$msi" "$stream"
    done
} | sha256sum)
code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID("6B0D1B4E-3F21-4C55-9D7A-2E4B8C1F0A11"), sys.argv[1])).upper())' "${digest%% *}")
template=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')
msibuild "$msi" -s "Kestrovane Search Shell Extension" Tessalquorin "$template" "{$code}"
