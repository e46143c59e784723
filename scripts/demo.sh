#!/usr/bin/env bash
# The main job, shown end to end: build both DLLs, then in a throwaway Wine prefix install a
# stand-in player, register the 64-bit DLL with Wine's own regsvr32, look at the registry, list
# and invoke the Find entry the way the shell does, and unregister again.
set -euo pipefail
cd "$(dirname "$0")/.."

step=0
say() { step=$((step + 1)); printf '\n== Step %d: %s\n' "$step" "$*"; }
fail() { printf '\nFAILED: %s\n' "$*" >&2; exit 1; }

say "Installing what is missing"
scripts/install-deps.sh

say "Building the shipped 32-bit DLL and the 64-bit DLL"
cmake --preset i686 >/dev/null
cmake --build --preset i686 -j"$(nproc)" >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j"$(nproc)" >/dev/null
bin=build/x86_64/bin
file build/i686/src/kvshellsearch/kvshellsearch.dll "$bin/kvshellsearch.dll" | sed 's/^/   /'

say "Making a throwaway Wine prefix"
source scripts/wine-prefix.sh
echo "   WINEPREFIX=$WINEPREFIX"

# Runs a Windows program; its output goes through a file so Wine's background processes never
# hold this script's output.
win() {
    local output status
    output=$(mktemp)
    set +e
    "$WINE64" "$@" </dev/null >"$output" 2>&1
    status=$?
    set -e
    sed 's/\r$//; s/^/   /' "$output"
    rm -f "$output"
    return $status
}

player_dir='C:\Program Files\Kestrovane'
unix_player_dir="$WINEPREFIX/drive_c/Program Files/Kestrovane"
preferences='HKCR\Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp'
class_key='HKCR\CLSID\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}'
find_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\FindExtensions\Static\Orbelquest'

say "Installing a stand-in player and the 64-bit DLL in $player_dir"
mkdir -p "$unix_player_dir"
cp "$bin/stand_in_player.exe" "$unix_player_dir/player.exe"
cp "$bin/kvshellsearch.dll" "$unix_player_dir/kvshellsearch.dll"
win reg add "$preferences" /ve /d "$player_dir\\player.exe" /f || fail "cannot set MainApp"
win reg query "$preferences"

say "Registering the DLL with Wine's regsvr32"
win regsvr32 /s "$player_dir\\kvshellsearch.dll" || fail "regsvr32 reported a failure"
echo "   regsvr32 succeeded"

say "The registry layout it wrote"
win reg query "$class_key" /s || fail "class key missing"
win reg query "$find_key" /s || fail "Find entry missing"

say "Listing the Find entries as the shell sees them"
win "$bin/shellfind.exe" list || fail "the entry is broken"

say "Picking the entry, as the shell does"
export KV_PLAYER_LOG='C:\player.log'
rm -f "$WINEPREFIX/drive_c/player.log"
win "$bin/shellfind.exe" invoke Orbelquest || fail "invoking the entry failed"
for _ in $(seq 50); do [ -s "$WINEPREFIX/drive_c/player.log" ] && break; sleep 0.1; done
[ -s "$WINEPREFIX/drive_c/player.log" ] || fail "the player was not started"

say "The command line the player received"
cut -d'|' -f2- "$WINEPREFIX/drive_c/player.log" | sed 's/\r$//; s/^/   /'
grep -q ' /search' "$WINEPREFIX/drive_c/player.log" || fail "no /search on the command line"

say "Unregistering"
win regsvr32 /u /s "$player_dir\\kvshellsearch.dll" || fail "unregistering failed"
echo "   regsvr32 /u succeeded"

say "The keys are gone"
for key in "$class_key" "$find_key"; do
    if win reg query "$key" >/dev/null 2>&1; then fail "$key is still there"; fi
    echo "   $key: not found"
done

printf '\nDemonstration complete: every step succeeded.\n'
