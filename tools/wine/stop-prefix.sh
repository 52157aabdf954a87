#!/usr/bin/env bash
# Ends the persistent server of a prefix made by fresh-prefix.sh.
dir=$1 name=${2:-run}
[ -d "$dir/$name" ] && WINEPREFIX="$dir/$name" wineserver -k 2>/dev/null
exit 0
