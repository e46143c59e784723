#!/bin/sh
# Adds to a package built by wixl from installer/kvshellsearch.wxs (and its fragment) what wixl cannot express:
#  - the Signature row that makes the MainApp search a file search: a preference naming a file
#    that does not exist finds nothing (without the row it finds the file's directory);
#  - PLAYERDIR, the directory of the player's executable: a directory search whose parent is
#    that file search (Windows Installer takes the directory of a parent that is a file);
#  - the module's File row as a versioned file (tools/msi_module_version.sh), so that an upgrade
#    replaces an older DLL by the rule that versioned files win;
#  - the summary's language, and a package code that follows from the finished package.
# Run it with the clock fixed (faketime) to keep the summary's times fixed too.
# Usage: finish_msi.sh PACKAGE.msi DLL ARCH LANGUAGE PLAYER_FILE_NAME
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
msi=$1
dll=$2
arch=$3
language=$4
player=$5
tools=$(dirname "$0")
msibuild "$msi" -q "INSERT INTO \`Signature\` (\`Signature\`, \`FileName\`) VALUES ('MainAppFile', '$player')"
msibuild "$msi" -q 'CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)'
msibuild "$msi" -q "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Parent\`, \`Path\`, \`Depth\`) VALUES ('PlayerDir', 'MainAppFile', '', 0)"
msibuild "$msi" -q "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('PLAYERDIR', 'PlayerDir')"
"$tools/msi_module_version.sh" "$msi" "$dll"
platform=$([ "$arch" = x64 ] && echo x64 || echo Intel)
msibuild "$msi" -s "Kestrovane Search Shell Extension" Tessalquorin "$platform;$language"
"$tools/msi_package_code.sh" "$msi"
