#!/usr/bin/env bash
# Runs the IPC benchmark under Wine in a prefix of its own (a copy of the test template).
# Usage: bench/run-ipc.sh [BUILD_DIR]   (defaults to build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
"$root/tools/wine/fresh-prefix.sh" "$build/wine" bench-ipc
trap '"$root/tools/wine/stop-prefix.sh" "$build/wine" bench-ipc' EXIT
WINEPREFIX="$build/wine/bench-ipc" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wine "$build/bin/ipc_bench.exe"
