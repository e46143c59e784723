# Sourced by the scripts that run Windows programs: makes a throwaway Wine prefix for this run,
# keeps one wineserver alive for it, and removes both when the script exits.
# Never ~/.wine: everything lives in a fresh directory under /tmp.
# Run by itself with -h or --help, it prints this.
case "$0" in
*wine-prefix.sh) case "${1:-}" in -h | --help) sed -n '1,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac ;;
esac

export WINEDEBUG=-all
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/kvshellsearch-wine.XXXXXX)
export WINE64=/usr/lib/wine/wine64

end_wine_prefix() {
    # Ends only the processes of this prefix, then drops the prefix.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap end_wine_prefix EXIT

# Wine's background processes inherit whatever streams the first Wine program had; give them
# none of ours, so that nothing holds this script's output open after it ends.
wineserver -p </dev/null >/dev/null 2>&1
"$WINE64" wineboot -i </dev/null >/dev/null 2>&1
