#!/usr/bin/env bash
# Runs the client helper benchmark under Wine in a prefix of its own (a copy of the test template).
# Usage: bench/run-helper.sh [BUILD_DIR]   (defaults to build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
"$root/tools/wine/fresh-prefix.sh" "$build/wine" bench-helper
trap '"$root/tools/wine/stop-prefix.sh" "$build/wine" bench-helper' EXIT
WINEPREFIX="$build/wine/bench-helper" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wine "$build/bin/helper_bench.exe"
