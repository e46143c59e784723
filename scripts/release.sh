#!/usr/bin/env bash
# Makes the release in dist/ (or --out DIR) from a clean build of the committed sources: both
# DLLs, the satellites, shellfind and shellfind-fix, the installer packages (English and one per translation) and
# the setup program (kvshellsearch-VERSION-setup.exe, NSIS), with the version in their names, BUILDINFO (the toolchain's package versions) and SHA256SUMS.
# With a certificate every PE file and package is Authenticode-signed (the DLLs before they are
# packaged), and only then checksummed. At the end every file in dist/ is verified: against
# SHA256SUMS, and when signed, its signature, and the DLL inside each package against the signed
# DLL, byte for byte. The setup program is built after both DLLs and the 64-bit shellfind are
# signed, from those files (its uninstaller, written by the setup at install time, is unsigned).
#
#   scripts/release.sh [--allow-dirty] [--out DIR] [--player-file-name NAME]
#                      [--pkcs12 FILE | --cert CERT.pem --key KEY.pem] [--password-file FILE]
#                      [--ca CA.pem] [--timestamp URL]
#
# --player-file-name NAME: the file name of the player's program that the packages' search for
# the player names (default player.exe); a vendor whose player is called otherwise sets it.
#
# The password of the key comes from --password-file or from the environment variable
# KV_SIGN_PASSWORD, never from the command line, which every process on the machine can read.
# Any signing input without a certificate, KV_SIGN_PASSWORD included, stops it before it builds.
# --ca names the certificates that verification trusts (default: the signing certificate).
# --timestamp URL time-stamps the signatures with the vendor's own server. --out refuses a
# directory that holds files and was not made by this script. Unsigned, the same commit gives
# the same bytes in any directory, at any time (scripts/check-reproducible.sh).
#
# Needs: Debian 12; what is missing it installs first (scripts/install-deps.sh, apt-get), for
# which it must run as root.
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."

refuse() { echo "release: $*" >&2; exit 2; }
out=dist allow_dirty=no pkcs12= cert= key= ca= timestamp= password_file= signing_asked=no
player_file_name=player.exe
value() { # OPTION VALUE: an option's value must be there and not be empty
    [ -n "${2:-}" ] || refuse "$1 needs a value, and it is empty or missing: nothing was built"
}
while [ $# -gt 0 ]; do
    case $1 in
    --allow-dirty) allow_dirty=yes; shift; continue ;;
    --password) refuse "--password would put the password on the command line; use --password-file FILE or KV_SIGN_PASSWORD" ;;
    --out|--pkcs12|--cert|--key|--ca|--timestamp|--password-file|--player-file-name)
        value "$1" "${2:-}" ;;
    *) refuse "unknown argument $1 (see the top of scripts/release.sh)" ;;
    esac
    case $1 in
    --out) out=$2 ;;
    --player-file-name) player_file_name=$2 ;;
    --pkcs12) pkcs12=$2; signing_asked=yes ;;
    --cert) cert=$2; signing_asked=yes ;;
    --key) key=$2; signing_asked=yes ;;
    --ca) ca=$2; signing_asked=yes ;;
    --timestamp) timestamp=$2; signing_asked=yes ;;
    --password-file) password_file=$2; signing_asked=yes ;;
    esac
    shift 2
done
[ -z "${KV_SIGN_PASSWORD:-}" ] || signing_asked=yes
case $player_file_name in
*[\\/:\"\<\>\|\*\?]*) refuse "--player-file-name takes a file name, without a directory: $player_file_name" ;;
esac
if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
    refuse "give either --pkcs12 or --cert and --key, not both"
fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    refuse "--cert and --key go together"
fi
if [ $signing_asked = yes ] && [ -z "$pkcs12$cert" ]; then
    refuse "a signing input (an option, or KV_SIGN_PASSWORD) without a certificate (--pkcs12, or --cert and --key): nothing was built, nothing would be signed"
fi
for file in "$pkcs12" "$cert" "$key" "$ca" "$password_file"; do
    [ -z "$file" ] || [ -r "$file" ] || refuse "cannot read $file"
done
if [ -n "$password_file" ] && [ -n "${KV_SIGN_PASSWORD:-}" ]; then
    refuse "the password comes from --password-file or KV_SIGN_PASSWORD, not both"
fi
# A directory of someone else's is never emptied: only an empty one, or one this script made.
marker=.kvshellsearch-release
if [ -d "$out" ] && [ -n "$(ls -A "$out")" ] && [ ! -e "$out/$marker" ]; then
    refuse "$out holds files and was not made by this script; name an empty or new directory"
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

# The password reaches osslsigncode and openssl through a file only this user can read.
password=$work/password
(umask 077 && touch "$password")
if [ -n "$password_file" ]; then cp "$password_file" "$password"
elif [ -n "${KV_SIGN_PASSWORD:-}" ]; then printf '%s' "$KV_SIGN_PASSWORD" >"$password"; fi

sign() { # FILE: signs it in place and verifies it
    local args=(-n "Kestrovane Search Shell Extension" -h sha256)
    if [ -n "$pkcs12" ]; then args+=(-pkcs12 "$pkcs12"); else args+=(-certs "$cert" -key "$key"); fi
    [ -s "$password" ] && args+=(-readpass "$password")
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
        openssl pkcs12 -in "$pkcs12" -passin "file:$password" -nokeys -out "$trusted" 2>/dev/null ||
            { echo "release: cannot read the certificate from $pkcs12 (wrong password?)" >&2; exit 1; }
    fi
fi

rm -rf "$out"
mkdir -p "$out"
touch "$out/$marker"
# Every translation, one per translations/kvshellsearch-LANG.rc.
languages=()
for script in translations/kvshellsearch-*.rc; do
    language=${script#translations/kvshellsearch-}
    languages+=("${language%.rc}")
done
for preset in i686 x86_64; do
    tree=$work/$preset
    # The 64-bit tree also builds the setup program, around the 32-bit tree's (signed) DLL.
    cmake --preset $preset -B "$tree" --no-warn-unused-cli -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
        -DKV_SHIPPED_BUILD_DIR="$work/i686" -DKV_PLAYER_FILE_NAME="$player_file_name" >/dev/null
    cmake --build "$tree" -j"$(nproc)" >/dev/null
    arch=$([ $preset = i686 ] && echo x86 || echo x64)
    module=$([ $preset = i686 ] && echo kvshellsearch || echo kvshellsearch64)
    dll=$tree/src/kvshellsearch/$module.dll
    pe_files=("$dll" "$tree/tools/shellfind.exe" "$tree/tools/shellfind-fix.exe")
    packages=("$tree/installer/kvshellsearch-$version-$arch.msi")
    targets=(kvshellsearch_installer)
    setup=
    if [ $preset = x86_64 ]; then
        setup=$tree/installer/kvshellsearch-$version-setup.exe
        packages+=("$setup")
        targets+=(kvshellsearch_setup)
    fi
    for language in "${languages[@]}"; do
        pe_files+=("$tree/translations/kvshellsearch-$language.dll")
        packages+=("$tree/installer/kvshellsearch-$language-$version-$arch.msi")
        targets+=("kvshellsearch_installer_$language")
    done
    if [ $signing = yes ]; then
        for file in "${pe_files[@]}"; do sign "$file"; done
        # Packaged again around the signed DLLs.
        rm -f "${packages[@]}"
        cmake --build "$tree" --target "${targets[@]}" >/dev/null
        for file in "${packages[@]}"; do sign "$file"; done
    fi
    cp "$dll" "$out/$module-$version-$arch.dll"
    cp "${pe_files[1]}" "$out/shellfind-$version-$arch.exe"
    cp "${pe_files[2]}" "$out/shellfind-fix-$version-$arch.exe"
    for language in "${languages[@]}"; do
        cp "$tree/translations/kvshellsearch-$language.dll" "$out/kvshellsearch-$language-$version-$arch.dll"
    done
    cp "${packages[@]}" "$out/"
done
# What the release was built with: the same commit with the same packages gives the same bytes.
{
    echo "kvshellsearch $version, commit $(git rev-parse HEAD)"
    echo "the packages look for the player as $player_file_name"
    dpkg-query -W -f='${Package} ${Version}\n' binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
        gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix \
        g++-mingw-w64-x86-64-posix mingw-w64-i686-dev mingw-w64-x86-64-dev cmake make python3 \
        wixl msitools faketime osslsigncode nsis nsis-common 2>/dev/null
} >"$out/BUILDINFO"
rm "$out/$marker"
(cd "$out" && sha256sum -- * >SHA256SUMS)
touch "$out/$marker"

# Every file, verified as it will be shipped.
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || { echo "release: $out does not match its SHA256SUMS" >&2; exit 1; }
if [ $signing = yes ]; then
    for file in "$out"/*.dll "$out"/*.exe "$out"/*.msi; do
        osslsigncode verify -CAfile "$trusted" -in "$file" >/dev/null ||
            { echo "release: $(basename "$file") is not validly signed" >&2; exit 1; }
    done
    for package in "$out"/*.msi; do
        arch=${package%.msi}; arch=${arch##*-}
        module=$([ "$arch" = x86 ] && echo kvshellsearch || echo kvshellsearch64)
        cab=$work/$(basename "$package").cab
        rm -rf "$cab.files" && mkdir "$cab.files"
        msiinfo extract "$package" kvshellsearch.cab >"$cab"
        (cd "$cab.files" && gcab -x "$cab" >/dev/null)
        cmp -s "$cab.files/KvShellSearchModuleFile" "$out/$module-$version-$arch.dll" ||
            { echo "release: the DLL inside $(basename "$package") is not the signed DLL" >&2; exit 1; }
        language=$(basename "$package" "-$version-$arch.msi"); language=${language#kvshellsearch}
        if [ -e "$cab.files/SatelliteFile" ]; then
            cmp -s "$cab.files/SatelliteFile" "$out/kvshellsearch$language-$version-$arch.dll" ||
                { echo "release: the satellite inside $(basename "$package") is not the signed one" >&2; exit 1; }
        fi
    done
fi
echo "release $version in $out$([ $signing = yes ] && echo ", signed"), every file verified:"
sed 's/^/  /' "$out/SHA256SUMS"
