#!/usr/bin/env bash
# Renders the Find entry as users see it: registers the 64-bit DLL in a throwaway Wine prefix,
# shows the registered entries as the shell's popup menu in a virtual X display, and captures
# it; then empties the entry's menu text and captures the first window of the customer's
# shellfind-fix. Also copies the icon sheet that the build draws.
# Usage: scripts/picture.sh [OUT_DIR]   (default: docs/)
case "${1:-}" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
out_dir=${1:-docs}
mkdir -p "$out_dir"

scripts/install-deps.sh xvfb xauth imagemagick
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j"$(nproc)" >/dev/null
bin=build/x86_64/bin

# A display of our own, up before Wine starts so that its desktop uses it; its number is the
# first free one.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

source scripts/wine-prefix.sh
trap 'end_wine_prefix; kill $xvfb 2>/dev/null || true' EXIT

player_dir="$WINEPREFIX/drive_c/Program Files/Kestrovane"
mkdir -p "$player_dir"
cp "$bin/stand_in_player.exe" "$player_dir/player.exe"
cp "$bin/kvshellsearch64.dll" "$player_dir/kvshellsearch64.dll"
quiet() { "$WINE64" "$@" </dev/null >/dev/null 2>&1; }
quiet reg add 'HKCR\Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp' /ve \
    /d 'C:\Program Files\Kestrovane\player.exe' /f
quiet regsvr32 /s 'C:\Program Files\Kestrovane\kvshellsearch64.dll'

# Captures the screen into FILE once it shows a window: the first window of a fresh prefix takes
# a while, so until the screen is no longer blank.
capture() { # FILE
    for _ in $(seq 60); do
        sleep 0.5
        import -window root "$1"
        [ "$(convert "$1" -format '%[fx:mean>0.001]' info:)" = 1 ] && break
    done
    sleep 1
    import -window root "$1"
}
shot=$(mktemp --suffix=.png)

"$WINE64" "$bin/shellfind.exe" menu 30 </dev/null >/dev/null 2>&1 &
menu=$!
capture "$shot"
# The menu on a desktop-coloured margin, every pixel doubled so the 16x16 icon can be judged.
convert "$shot" -trim +repage -bordercolor '#3a6ea5' -border 12 -scale 200% "$out_dir/find-menu.png"
kill $menu 2>/dev/null || true
wait $menu 2>/dev/null || true

# The customer's window, as Windows XP shows it, for an entry whose menu text was emptied.
quiet reg add 'HKCU\Software\Wine\AppDefaults\shellfind-fix.exe' /v Version /d winxp /f
quiet reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\FindExtensions\Static\Orbelquest\0' \
    /ve /d '' /f
"$WINE64" "$bin/shellfind-fix.exe" </dev/null >/dev/null 2>&1 &
fix=$!
capture "$shot"
convert "$shot" -trim +repage -bordercolor '#3a6ea5' -border 12 "$out_dir/customer-window.png"
rm -f "$shot"
kill $fix 2>/dev/null || true

cp build/x86_64/src/kvshellsearch/generated/kvshellsearch-icons.png "$out_dir/icon-sheet.png"
echo "wrote $out_dir/find-menu.png, $out_dir/customer-window.png and $out_dir/icon-sheet.png"
