#!/bin/sh
# The package code follows from the whole finished package: stamping a package again gives the
# same bytes, and a package that differs in one text gets another code.
#   test_package_code.sh PACKAGE.msi   (the clock of the build: KV_MSI_TIME, as the build ran)
set -u
package=$1
tools=$(dirname "$0")/../../tools
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
stamp() { TZ=UTC faketime -f "$KV_MSI_TIME" "$tools/msi_package_code.sh" "$1"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cp "$package" "$scratch/same.msi"
stamp "$scratch/same.msi"
cmp -s "$package" "$scratch/same.msi" || fail "the same package stamped again gives other bytes"

cp "$package" "$scratch/changed.msi"
msibuild "$scratch/changed.msi" -q "UPDATE \`Property\` SET \`Value\` = 'Tessalquorin AG' WHERE \`Property\` = 'Manufacturer'"
stamp "$scratch/changed.msi"
[ -n "$(code "$package")" ] || fail "no package code"
[ "$(code "$package")" != "$(code "$scratch/changed.msi")" ] ||
    fail "a package with another text kept the package code $(code "$package")"

[ $failures -eq 0 ] && echo "package code $(code "$package"); another text: $(code "$scratch/changed.msi")"
exit $failures
