#!/bin/bash
# scripts/release.sh never ships an unsigned release by mistake, nor empties a directory of
# someone else's: each of these stops it before anything is built, with one line and a non-zero
# exit.
set -u
release=$(dirname "$0")/../../scripts/release.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo secret >"$scratch/password"
mkdir "$scratch/theirs" && touch "$scratch/theirs/report.txt"
failures=0
check() { # LABEL EXPECTED-WORDS ARGUMENTS...
    local label=$1 expected=$2
    shift 2
    local output status
    output=$(KV_SIGN_PASSWORD=${PASSWORD:-} "$release" "$@" 2>&1 >/dev/null)
    status=$?
    if [ $status -eq 0 ] || [ "$(printf '%s\n' "$output" | wc -l)" -ne 1 ] ||
        ! grep -q -- "$expected" <<<"$output"; then
        echo "FAIL: $label: exit $status, said: $output"
        failures=$((failures + 1))
    else
        echo "ok: $label: $output"
    fi
}
check "--pkcs12 empty" "needs a value" --pkcs12 ""
check "--pkcs12 without its value" "needs a value" --pkcs12
check "a password without a certificate" "without a certificate" --password-file "$scratch/password"
check "a time-stamp server without a certificate" "without a certificate" --timestamp http://localhost
check "trusted certificates without a certificate" "without a certificate" --ca "$scratch/password"
PASSWORD=secret check "KV_SIGN_PASSWORD without a certificate" "without a certificate"
check "--key without --cert" "go together" --key "$scratch/password"
check "a player's file name with a directory" "without a directory" --player-file-name 'bin\player.exe'
check "a password on the command line" "command line" --pkcs12 "$scratch/password" --password secret
check "--cert without --key" "go together" --cert "$scratch/password"
check "a certificate that cannot be read" "cannot read" --pkcs12 "$scratch/missing.p12"
check "--out naming someone else's files" "not made by this script" --out "$scratch/theirs"
[ -e "$scratch/theirs/report.txt" ] || { echo "FAIL: their file is gone"; failures=$((failures + 1)); }
exit $failures
