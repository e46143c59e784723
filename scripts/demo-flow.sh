#!/usr/bin/env bash
# One bitness of the demonstration, in a Wine prefix made by the caller (scripts/demo.sh):
# install a stand-in player and the DLL, register it with Wine's own regsvr32, look at the
# registry, ask the doctor, break the menu text and let shellfind repair mend it, list and invoke
# the Find entry the way the shell does, and unregister again.
#   scripts/demo-flow.sh 32|64
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

bits=$1
if [ "$bits" = 32 ]; then
    dll=build/i686/src/kvshellsearch/kvshellsearch.dll # the shipped DLL itself
    name=kvshellsearch.dll
    shellfind=build/i686/tools/shellfind.exe
    player=build/i686-tests/bin/stand_in_player.exe
    runner=(cmake/wine-run.sh --32)
else
    dll=build/x86_64/bin/kvshellsearch64.dll # its own name beside the player
    name=kvshellsearch64.dll
    shellfind=build/x86_64/bin/shellfind.exe
    player=build/x86_64/bin/stand_in_player.exe
    runner=(cmake/wine-run.sh)
fi
prefix_host=${KV_WINEPREFIX_HOST:-$WINEPREFIX}

step=0
say() { step=$((step + 1)); printf '\n== %s-bit, step %d: %s\n' "$bits" "$step" "$*"; }
fail() { printf '\nFAILED (%s-bit): %s\n' "$bits" "$*" >&2; exit 1; }
win() {
    local status=0
    "${runner[@]}" "$@" >"$prefix_host/demo-output" 2>&1 || status=$?
    sed 's/\r$//; s/^/   /' "$prefix_host/demo-output"
    return $status
}

player_dir='C:\Program Files\Kestrovane'
unix_player_dir="$prefix_host/drive_c/Program Files/Kestrovane"
preferences='HKCR\Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp'
class_key='HKCR\CLSID\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}'
find_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\FindExtensions\Static\Orbelquest'

say "Installing a stand-in player and the $bits-bit DLL in $player_dir"
mkdir -p "$unix_player_dir"
cp "$player" "$unix_player_dir/player.exe"
cp "$dll" "$unix_player_dir/$name"
win reg add "$preferences" /ve /d "$player_dir\\player.exe" /f || fail "cannot set MainApp"
win reg query "$preferences"

say "Registering the DLL with Wine's regsvr32"
win regsvr32 /s "$player_dir\\$name" || fail "regsvr32 reported a failure"
echo "   regsvr32 succeeded"

say "The registry layout it wrote"
win reg query "$class_key" /s || fail "class key missing"
win reg query "$find_key" /s || fail "Find entry missing"

say "Listing the Find entries as the shell sees them"
win "$shellfind" list || fail "the entry is broken"

say "Asking shellfind doctor whether the entry shows and works (under a Windows XP profile)"
xp_profile=$([ "$bits" = 32 ] && echo winxp || echo winxp64)
win reg add 'HKCU\Software\Wine\AppDefaults\shellfind.exe' /v Version /d "$xp_profile" /f >/dev/null \
    || fail "cannot set the Windows XP profile"
win "$shellfind" doctor || fail "the doctor found a fault"

say "A broken entry: the menu text emptied; the doctor names it, shellfind repair mends it"
win reg add "$find_key\\0" /ve /d "" /f >/dev/null || fail "cannot empty the menu text"
status=0
win "$shellfind" doctor >/dev/null || status=$?
[ "$status" = 7 ] || fail "the doctor exited $status, not 7, for an empty menu text"
echo "   the doctor: exit code 7 (the menu text is empty)"
win "$shellfind" repair | grep -E '^   (FAULT|repair|backup|Orbelquest)' \
    || fail "shellfind repair did not mend the entry"

say "Picking the entry, as the shell does"
export KV_PLAYER_LOG='C:\player.log'
log="$prefix_host/drive_c/player.log"
rm -f "$log"
win "$shellfind" invoke Orbelquest || fail "invoking the entry failed"
for _ in $(seq 50); do [ -s "$log" ] && break; sleep 0.1; done
[ -s "$log" ] || fail "the player was not started"

say "The command line the player received"
cut -d'|' -f2- "$log" | sed 's/\r$//; s/^/   /'
grep -q ' /search' "$log" || fail "no /search on the command line"

say "Unregistering"
win regsvr32 /u /s "$player_dir\\$name" || fail "unregistering failed"
echo "   regsvr32 /u succeeded"

say "The keys are gone"
for key in "$class_key" "$find_key"; do
    if win reg query "$key" >/dev/null 2>&1; then fail "$key is still there"; fi
    echo "   $key: not found"
done

say "The doctor now names the missing entry (exit code 3)"
status=0
win "$shellfind" doctor || status=$?
[ "$status" = 3 ] || fail "the doctor exited $status, not 3"
