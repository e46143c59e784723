#!/usr/bin/env bash
# Static analysis and format of the module and the tools: cppcheck, clang-tidy (parsing the
# mingw-w64 headers for the x86_64 target) and clang-format; the documentation's links, and the
# paths, WiX names, script options and quoted files it names.
# Exits non-zero on any finding.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -uo pipefail
cd "$(dirname "$0")/.."

sources=(src/kvshellsearch/*.cpp tools/shellfind/*.cpp tools/rebrand/*.cpp)
headers=(src/kvshellsearch/*.h src/kvshellsearch/resources/*.h tools/shellfind/*.h)
existing() { for f in "$@"; do [ -e "$f" ] && echo "$f"; done; }
mapfile -t sources < <(existing "${sources[@]}")
mapfile -t headers < <(existing "${headers[@]}")
status=0

echo "== cppcheck"
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++17 --platform=win64 -D_WIN32 -DWIN32 -D__cplusplus \
    "-DIFACEMETHODIMP=HRESULT" "-DIFACEMETHODIMP_(type)=type" "-DSTDAPI=HRESULT" \
    -I src/kvshellsearch --suppress=missingIncludeSystem -q "${sources[@]}" || status=1

echo "== clang-tidy"
generated=build/x86_64/src/kvshellsearch/generated
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
clang-tidy --quiet "${sources[@]}" -- --target=x86_64-w64-mingw32 -std=c++17 -nostdinc++ \
    -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/x86_64-w64-mingw32" \
    -isystem /usr/x86_64-w64-mingw32/include -Isrc/kvshellsearch -I"$generated" \
    -D__USE_MINGW_ANSI_STDIO=0 -DKV_VERSION=\"VERSION\" 2>&1 | grep -vE "^[0-9]+ warnings? generated|^Suppressed|^Use -header-filter" 
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

echo "== clang-format"
mapfile -t formatted < <(existing "${sources[@]}" "${headers[@]}" tests/*.cpp tests/support/* \
    tests/helpers/*.cpp bench/*.cpp)
clang-format --dry-run --Werror "${formatted[@]}" 2>&1 | head -40
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

echo "== links"
python3 tests/static/check_links.py || status=1
# The check itself must catch a broken link: a copy of the pages with one more, pointing nowhere.
copy=$(mktemp -d)
mkdir -p "$copy/docs" && cp README.md "$copy/" && cp docs/* "$copy/docs/"
echo '[a guide that is not there](docs/no-such-guide.md)' >>"$copy/README.md"
caught=$(python3 tests/static/check_links.py "$copy")
if [ $? -ne 0 ] && grep -q 'README.md:.*broken link docs/no-such-guide.md' <<<"$caught"; then
    echo "links: a broken link is caught"
else
    echo "FAIL: the link check passed a broken link"
    status=1
fi
rm -rf "$copy"

echo "== docs"
python3 tests/static/check_docs.py || status=1
# The check must catch each way a guide drifts: a copy of the tree with one fault at a time.
copy=$(mktemp -d)
git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$copy" 2>/dev/null
while IFS='^' read -r file line expected; do
    cp "$file" "$copy/$file.orig"
    printf '%b\n' "$line" >>"$copy/$file" # \n in a line starts a new one
    if caught=$(python3 tests/static/check_docs.py --build "$PWD/build" "$copy"); then
        echo "FAIL: the docs check passed: $line in $file"
        status=1
    elif grep -qF -- "$expected" <<<"$caught"; then
        echo "docs: caught: $expected"
    else
        echo "FAIL: the docs check missed \"$expected\": $caught"
        status=1
    fi
    mv "$copy/$file.orig" "$copy/$file"
done <<'FAULTS'
docs/installing.md^See `tools/no-such-tool.py`.^no such path in the repository: tools/no-such-tool.py
docs/installing.md^Reference `KvShellSearchNoSuchComponent`.^KvShellSearchNoSuchComponent is not in the fragment
docs/releasing.md^Run `scripts/release.sh --no-such-option`.^scripts/release.sh takes no option --no-such-option
tests/installer/vendor-player.wxs^<!-- changed after the guide quoted it -->^differs from tests/installer/vendor-player.wxs
docs/installing.md^Set `KVSHELLSEARCHMENU`.^KVSHELLSEARCHMENU is not in the fragment
docs/releasing.md^Run `scripts/release.sh --ou DIR`.^scripts/release.sh takes no option --ou
docs/platform.md^It has <!-- figure: dll32.bytes -->1,000 bytes.^figure dll32.bytes is 1,000 in the guide
docs/benchmark.md^<!-- figure: dll64.instructions -->5^no such figure: dll64.instructions
docs/troubleshooting.md^| `the player's path is gone` (9) | moved | repair ^the doctor prints nothing like: the player's path is gone
docs/troubleshooting.md^```\nFAULT registry: the entry has gone missing -- call support\n```^the doctor prints no such line: the entry has gone missing
docs/building-and-testing.md^| a | b |\n|---|---|---|^a table row has 3 cells, its header 2
docs/platform.md^<!-- imports: dll32 -->\n| DLL | functions | 9x | NT |\n|---|---|---|---|\n| `kernel32` | `WinExec` | 95 | 3.1 |^the import table of dll32 differs from the built file
FAULTS
rm -rf "$copy"

echo "== --help"
# Every script and tool answers -h and --help with its usage and exit 0, and takes neither for a
# file name: run from an empty directory, it leaves that directory and the tree as they were.
before=$(git status --porcelain)
helped=0
for tool in scripts/*.sh tools/*.sh tools/*.py; do
    interpreter=bash
    [ "${tool##*.}" = py ] && interpreter=python3
    for flag in --help -h; do
        empty=$(mktemp -d)
        usage=$(cd "$empty" && timeout 60 "$interpreter" "$OLDPWD/$tool" "$flag" 2>&1) && answered=yes || answered=no
        if [ $answered != yes ] || [ -z "$usage" ] || [ -n "$(ls -A "$empty")" ]; then
            echo "FAIL: $tool $flag: exit status, no usage, or files written: ${usage%%$'\n'*}"
            status=1
        fi
        rm -rf "$empty"
        helped=$((helped + 1))
    done
done
if [ "$(git status --porcelain)" != "$before" ]; then
    echo "FAIL: a --help run changed the tree"
    status=1
fi
echo "--help: $helped runs answered with a usage and exit 0, writing nothing"

[ $status -eq 0 ] && echo "static checks: clean"
exit $status
