#!/usr/bin/env bash
# Gives a test run (or the demo) its own prefix: a copy of the template, with a persistent server.
# Usage: fresh-prefix.sh WINE_DIR [NAME]   (NAME defaults to "run")
set -euo pipefail
dir=$1 name=${2:-run}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
if [ -d "$dir/$name" ]; then WINEPREFIX="$dir/$name" wineserver -k 9>&- 2>/dev/null || true; fi
rm -rf "$dir/$name"
[ -d "$dir/template" ] || "$here/make-template.sh" "$dir/template"
cp -a "$dir/template" "$dir/$name"
# Detached from our output: a runner waiting for its pipes to close would wait for the server too.
WINEPREFIX="$dir/$name" WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1 9>&-
# Start Wine's own background processes (services, device host) now, detached as well, so they do not
# inherit the output of the first test that happens to run.
WINEPREFIX="$dir/$name" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wine wineboot </dev/null >/dev/null 2>&1 9>&-
