#!/usr/bin/env bash
# Makes the release in dist/ (or --out DIR) from a clean build of the committed sources: both
# DLLs, the satellites, shellfind and the installer packages, with the version in their names,
# and SHA256SUMS. With a certificate every PE file and package is Authenticode-signed (the
# DLLs before they are packaged), verified, and only then checksummed.
#
#   scripts/release.sh [--allow-dirty] [--out DIR]
#                      [--pkcs12 FILE [--password PASS] | --cert CERT.pem --key KEY.pem]
#                      [--ca CA.pem] [--timestamp URL]
#
# --ca names the certificates that verification trusts (default: the signing certificate).
# --timestamp URL time-stamps the signatures with the vendor's own server. Unsigned, the same
# commit gives the same bytes in any directory, at any time (scripts/check-reproducible.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

out=dist allow_dirty=no pkcs12= password= cert= key= ca= timestamp=
while [ $# -gt 0 ]; do
    case $1 in
    --allow-dirty) allow_dirty=yes ;;
    --out) out=$2; shift ;;
    --pkcs12) pkcs12=$2; shift ;;
    --password) password=$2; shift ;;
    --cert) cert=$2; shift ;;
    --key) key=$2; shift ;;
    --ca) ca=$2; shift ;;
    --timestamp) timestamp=$2; shift ;;
    *) echo "release: unknown argument $1 (see the top of scripts/release.sh)" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
    echo "release: give either --pkcs12 or --cert and --key, not both" >&2; exit 2
fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    echo "release: --cert and --key go together" >&2; exit 2
fi

scripts/install-deps.sh
if [ "$allow_dirty" = no ] && [ -n "$(git status --porcelain --untracked-files=normal)" ]; then
    echo "release: the work tree has uncommitted changes; commit them, or pass --allow-dirty" >&2
    exit 1
fi

version=$(sed -n 's/^project(kvshellsearch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

sign() { # FILE: signs it in place and verifies it
    local args=(-n "Kestrovane Search Shell Extension" -h sha256)
    if [ -n "$pkcs12" ]; then args+=(-pkcs12 "$pkcs12" -pass "$password"); else args+=(-certs "$cert" -key "$key"); fi
    [ -n "$timestamp" ] && args+=(-ts "$timestamp")
    osslsigncode sign "${args[@]}" -in "$1" -out "$1.signed" >/dev/null
    mv "$1.signed" "$1"
    osslsigncode verify -CAfile "$trusted" -in "$1" >/dev/null ||
        { echo "release: $1 does not verify after signing" >&2; exit 1; }
    echo "signed and verified: $(basename "$1")"
}
signing=no
if [ -n "$pkcs12$cert" ]; then
    signing=yes
    trusted=${ca:-$cert}
    if [ -z "$trusted" ]; then
        trusted=$work/signer.pem
        openssl pkcs12 -in "$pkcs12" -passin "pass:$password" -nokeys -out "$trusted" 2>/dev/null
    fi
fi

rm -rf "$out"
mkdir -p "$out"
for preset in i686 x86_64; do
    tree=$work/$preset
    cmake --preset $preset -B "$tree" --no-warn-unused-cli -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >/dev/null
    cmake --build "$tree" -j"$(nproc)" >/dev/null
    arch=$([ $preset = i686 ] && echo x86 || echo x64)
    pe_files=("$tree/src/kvshellsearch/kvshellsearch.dll" "$tree/translations/kvshellsearch-de.dll"
              "$tree/tools/shellfind.exe")
    if [ $signing = yes ]; then
        for file in "${pe_files[@]}"; do sign "$file"; done
        # Packaged again around the signed DLL.
        rm -f "$tree/installer/kvshellsearch-$version-$arch.msi"
        cmake --build "$tree" --target kvshellsearch_installer >/dev/null
        sign "$tree/installer/kvshellsearch-$version-$arch.msi"
    fi
    cp "${pe_files[0]}" "$out/kvshellsearch-$version-$arch.dll"
    cp "${pe_files[1]}" "$out/kvshellsearch-de-$version-$arch.dll"
    cp "${pe_files[2]}" "$out/shellfind-$version-$arch.exe"
    cp "$tree/installer/kvshellsearch-$version-$arch.msi" "$out/"
done
(cd "$out" && sha256sum -- * >SHA256SUMS)
echo "release $version in $out$([ $signing = yes ] && echo ", signed"):"
sed 's/^/  /' "$out/SHA256SUMS"
