#!/bin/sh
# Adds to a package built by wixl from installer/kvshellsearch.wxs what wixl cannot express:
#  - PLAYERDIR, the directory of the player's executable: a directory search whose parent is
#    the MainApp file search (Windows Installer takes the directory of a parent that is a file);
#  - the conditions of the two menu-text components, the module's own rule: the newer text on
#    NT 5.0 and later and on Windows Me (Version9X 490), the older one on 95, 98 and NT 4.0.
#  - a package code (the summary's revision number) that follows from the package's DLL,
#    version and bitness instead of a random one, so that the same sources give the same bytes.
# Run it with the clock fixed (faketime) to keep the summary's times fixed too.
# Usage: finish_msi.sh PACKAGE.msi DLL VERSION ARCH
set -eu
msi=$1
dll=$2
version=$3
arch=$4
newer='VersionNT >= 500 OR (Version9X > 410 AND Version9X < 500)'
msibuild "$msi" -q 'CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)'
msibuild "$msi" -q "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Parent\`, \`Path\`, \`Depth\`) VALUES ('PlayerDir', 'MainAppFile', '', 0)"
msibuild "$msi" -q "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('PLAYERDIR', 'PlayerDir')"
msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = '$newer' WHERE \`Component\` = 'MenuTextNewerShell'"
msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = 'NOT ($newer)' WHERE \`Component\` = 'MenuTextOlderShell'"
package_code=$(python3 -c '
import hashlib, sys, uuid
digest = hashlib.sha256(open(sys.argv[1], "rb").read()).hexdigest()
print(uuid.uuid5(uuid.UUID("6B0D1B4E-3F21-4C55-9D7A-2E4B8C1F0A11"), digest + sys.argv[2] + sys.argv[3]))
' "$dll" "$version" "$arch" | tr a-z A-Z)
msibuild "$msi" -s "Kestrovane Search Shell Extension" Tessalquorin "$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')" "{$package_code}"
