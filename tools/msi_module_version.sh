#!/bin/sh
# Makes the module's File row in a package built by wixl a versioned file: the version and
# language of the DLL's own version resource, and no file hash (which is for unversioned files
# only). wixl 0.101 leaves the row's Version empty, and Windows Installer then replaces the DLL on
# an upgrade by the rules for unversioned files (dates and hashes) instead of by its version. A
# vendor who builds the player's package with wixl and our fragment runs this once after wixl;
# our own packages run it too (tools/finish_msi.sh). WiX's candle and light fill the row
# themselves.
# Usage: msi_module_version.sh PACKAGE.msi MODULE.dll
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
[ $# -eq 2 ] || { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0" >&2; exit 2; }
msi=$1
set -- $(python3 "$(dirname "$0")/pe_version.py" read "$2")
msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$1', \`Language\` = '$2' WHERE \`File\` = 'KvShellSearchModuleFile'"
msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'KvShellSearchModuleFile'"
