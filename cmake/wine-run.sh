#!/bin/sh
# Runs one Windows program under wine64 for CTest. The program's output goes through a file, not
# through CTest's pipe: Wine's background processes would inherit that pipe and keep it open.
if [ -z "$WINEPREFIX" ]; then
    echo "wine-run.sh: WINEPREFIX is not set; run the tests through scripts/test.sh" >&2
    exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
output=$(mktemp)
"${WINE64:-/usr/lib/wine/wine64}" "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit $status
