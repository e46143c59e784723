#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both DLLs, runs the tests under wine64
# in a throwaway prefix, and checks the shipped 32-bit DLL.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)

cmake --preset i686 -DKV_WARNINGS_AS_ERRORS=$werror >/dev/null
cmake --build --preset i686 -j"$jobs"
cmake --preset x86_64 -DKV_WARNINGS_AS_ERRORS=$werror >/dev/null
cmake --build --preset x86_64 -j"$jobs"

scripts/static-checks.sh

source scripts/wine-prefix.sh
ctest --preset x86_64 "$@"
