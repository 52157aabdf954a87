#!/usr/bin/env bash
# The include graph between the product's folders, one "from -> to (includes)" line per edge. The cleaner counts as
# its rooms: cleaner (the driver, entry point and command line), cleaner/steps, cleaner/mechanisms and
# cleaner/run_log (the run log and flags that every room writes). Fails on a cycle, and on an arrow that goes up the
# cleaner's chain: cleaner -> cleaner/steps -> cleaner/mechanisms -> footprint -> mcl.
# Usage: include-graph.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

folders=(cleaner footprint audit helper helper_cli mcl)
# "file:#include "target"" lines to "from to count" edges between the nodes above; an include of a file outside these
# folders (a generated header) is no edge.
edges=$(
  grep -rE --include='*.h' --include='*.cpp' '^#include "[a-z_]+/' "${folders[@]}" |
    awk -v known="${folders[*]}" '
      function node(path) {
        if (path ~ /^cleaner\/steps\//) return "cleaner/steps"
        if (path ~ /^cleaner\/mechanisms\//) return "cleaner/mechanisms"
        if (path ~ /^cleaner\/run_log\./) return "cleaner/run_log"
        return substr(path, 1, index(path, "/") - 1)
      }
      BEGIN { n = split(known, list, " "); for (i = 1; i <= n; ++i) folder[list[i]] = 1 }
      {
        split($0, part, "\"")
        file = substr($0, 1, index($0, ":") - 1)
        from = node(file); to = node(part[2])
        if (substr(part[2], 1, index(part[2], "/") - 1) in folder && from != to) ++count[from " " to]
      }
      END { for (edge in count) print edge, count[edge] }' | sort
)
awk '{printf "%s -> %s (%d)\n", $1, $2, $3}' <<<"$edges"

status=0
loop=$(awk '{print $1, $2}' <<<"$edges" | tsort 2>&1 >/dev/null || true)
if [ -n "$loop" ]; then
  echo "cycle: $loop"
  status=1
fi
chain=(cleaner cleaner/steps cleaner/mechanisms footprint mcl)
rank() { for i in "${!chain[@]}"; do [ "${chain[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }
while read -r from to _; do
  f=$(rank "$from") t=$(rank "$to")
  if [ "$f" -ge 0 ] && [ "$t" -ge 0 ] && [ "$t" -lt "$f" ]; then
    echo "upward: $from -> $to"
    status=1
  fi
done <<<"$edges"
exit $status
