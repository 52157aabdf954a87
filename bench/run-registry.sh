#!/usr/bin/env bash
# Runs the registry benchmark under Wine in a prefix of its own (a copy of the test template).
# Usage: bench/run-registry.sh [BUILD_DIR]   (defaults to build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
"$root/tools/wine/fresh-prefix.sh" "$build/wine" bench
trap '"$root/tools/wine/stop-prefix.sh" "$build/wine" bench' EXIT
WINEPREFIX="$build/wine/bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wine "$build/bin/registry_bench.exe"
