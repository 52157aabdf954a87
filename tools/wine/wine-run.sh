#!/usr/bin/env bash
# CTest's emulator: runs a Windows executable under Wine in the build's test-run prefix.
# Usage: wine-run.sh WINE_DIR program.exe [args...]
dir=$1; shift
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$dir/run" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -d "$WINEPREFIX" ]; then
  "$here/fresh-prefix.sh" "$dir" run </dev/null >/dev/null 2>&1 || exit 1
fi
exec wine "$@"
