#!/usr/bin/env bash
# Signing, as scripts/release.sh does it, with a throwaway certificate made here by openssl:
# the signature verifies, one byte changed after signing fails verification, the rebrand tool
# refuses the signed file, and the signed DLL still registers and launches under Wine.
#   test_signing.sh BIN_DIR   (the 64-bit suite's bin directory; run inside its Wine prefix)
set -uo pipefail
bin=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wine_run() { "$(dirname "$0")/../../cmake/wine-run.sh" --heap-check "$@"; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kvshellsearch test signer" \
    -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null || { echo "FAIL: openssl"; exit 1; }
osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" \
    -n "Kestrovane Search Shell Extension" -in "$bin/kvshellsearch64.dll" \
    -out "$scratch/kvshellsearch64.dll" >/dev/null || { echo "FAIL: signing"; exit 1; }

osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/kvshellsearch64.dll" >/dev/null 2>&1 ||
    fail "the signed DLL does not verify"
cp "$scratch/kvshellsearch64.dll" "$scratch/tampered.dll"
# One byte of the code changed: 0x400 is inside the first section of a mingw-w64 image.
printf '\xcc' | dd of="$scratch/tampered.dll" bs=1 seek=1024 conv=notrunc 2>/dev/null
osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/tampered.dll" >/dev/null 2>&1 &&
    fail "a DLL changed after signing still verifies"

refusal=$(python3 "$(dirname "$0")/../../tools/rebrand.py" "$scratch/kvshellsearch64.dll" \
    "$scratch/rebranded.dll" "Acme" 2>&1) && fail "the rebrand tool patched a signed DLL"
case $refusal in *"rebrand before signing"*) ;; *) fail "refusal says: $refusal" ;; esac

# Installed beside a stand-in player, registered, invoked as the shell does, unregistered.
player_dir="$WINEPREFIX/drive_c/Signed Kestrovane"
mkdir -p "$player_dir"
cp "$bin/stand_in_player.exe" "$player_dir/player.exe"
cp "$scratch/kvshellsearch64.dll" "$player_dir/kvshellsearch64.dll"
preference='HKCR\Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp'
wine_run reg add "$preference" /ve /d 'C:\Signed Kestrovane\player.exe' /f >/dev/null
export KV_PLAYER_LOG='C:\Signed Kestrovane\player.log'
wine_run regsvr32 /s 'C:\Signed Kestrovane\kvshellsearch64.dll' >/dev/null || fail "regsvr32 of the signed DLL"
wine_run "$bin/shellfind.exe" invoke Orbelquest >/dev/null || fail "invoking the signed DLL"
for _ in $(seq 50); do [ -s "$player_dir/player.log" ] && break; sleep 0.1; done
grep -q '" /search' "$player_dir/player.log" 2>/dev/null || fail "the signed DLL did not start the player"
wine_run regsvr32 /u /s 'C:\Signed Kestrovane\kvshellsearch64.dll' >/dev/null || fail "regsvr32 /u"
wine_run reg delete 'HKCR\Software\Tessalquorin' /f >/dev/null
rm -rf "$player_dir"

[ $failures -eq 0 ] && echo "signing: verifies, tampering detected, rebrand refused, signed DLL registers and launches"
exit $failures
