#!/usr/bin/env bash
# A vendor's product built with plain wixl, in both bitnesses, the ways a vendor may get it wrong
# or right:
#  - without <?include kvshellsearch-menutext.wxi ?> it must not build, and wixl's message must
#    name the include;
#  - with our components split over two features (the module in one, its registry values in
#    another) it builds, and no registry value names a file of another component (ICE69);
#  - built as docs/installing.md says (wixl, then tools/msi_module_version.sh), the module's File
#    row has the DLL's version and language, and no hash.
# Usage: check_vendor_builds.sh MODULE32 MODULE64
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cp "$here/vendor-player.wxs" "$project"/installer/kvshellsearch-{fragment.wxs,menutext.wxi,defaults.wxi} \
    "$scratch/"
cp "$1" "$scratch/kvshellsearch.dll"
cp "$2" "$scratch/kvshellsearch64.dll"
echo "not a player" >"$scratch/player.exe"
cd "$scratch"
grep -v 'include kvshellsearch-menutext.wxi' vendor-player.wxs >without-include.wxs
# The module's component in the player's feature, its registry values in a feature of their own.
python3 - <<'PY'
text = open("vendor-player.wxs").read()
group = '      <ComponentGroupRef Id="KvShellSearch"/>\n'
assert group in text
text = text.replace(group, '      <ComponentRef Id="KvShellSearchModule"/>\n')
text = text.replace("    </Feature>\n", """    </Feature>
    <Feature Id="SearchEntry" Title="Find/Search menu entry" Level="1">
      <ComponentRef Id="KvShellSearchClass"/>
      <ComponentRef Id="KvShellSearchFindEntry.FromTheInclude.kvshellsearch_menutext.wxi"/>
      <ComponentRef Id="KvShellSearchApproval"/>
    </Feature>
""", 1)
open("two-features.wxs", "w").write(text)
PY

for bits in 32 64; do
    if [ $bits = 64 ]; then
        args=(-a x64 -D KvShellSearchModule=kvshellsearch64.dll -D KvShellSearchWin64=yes)
    else
        args=(-a x86 -D KvShellSearchModule=kvshellsearch.dll -D KvShellSearchWin64=no)
    fi
    if message=$(wixl "${args[@]}" -o without.msi without-include.wxs kvshellsearch-fragment.wxs 2>&1); then
        fail "$bits-bit: a product without the menu-text include was built"
    elif ! grep -q 'kvshellsearch_menutext.wxi' <<<"$message"; then
        fail "$bits-bit: the failed build does not name the include: $message"
    else
        echo "$bits-bit, without the include: not built: $message"
    fi
    if wixl "${args[@]}" -o split.msi two-features.wxs kvshellsearch-fragment.wxs; then
        python3 "$project/tests/static/check_msi_tables.py" split.msi || failures=$((failures + 1))
    else
        fail "$bits-bit: the product with two features was not built"
    fi
    # The guide's step after wixl: the module's File row carries the DLL's version and language.
    module=$([ $bits = 64 ] && echo kvshellsearch64.dll || echo kvshellsearch.dll)
    wixl "${args[@]}" -o product.msi vendor-player.wxs kvshellsearch-fragment.wxs
    "$project/tools/msi_module_version.sh" product.msi "$module"
    row=$(msiinfo export product.msi File | awk -F'\t' '$1 == "KvShellSearchModuleFile" { print $5 " " $6 }')
    expected=$(python3 "$project/tools/pe_version.py" read "$module")
    if [ "$row" != "$expected" ]; then
        fail "$bits-bit: the module's File row has version and language \"$row\", the DLL \"$expected\""
    elif msiinfo export product.msi MsiFileHash | grep -q '^KvShellSearchModuleFile'; then
        fail "$bits-bit: the versioned module still has a file hash"
    else
        echo "$bits-bit, the guide's vendor product: the module's File row is $row"
    fi
done
exit $failures
