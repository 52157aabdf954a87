#!/usr/bin/env bash
# Runs every fuzz target of a native build for a bounded time, each from a scratch copy of its committed
# seed corpus. Any crash, leak, sanitizer report or time-out fails the run (non-zero exit).
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]   (BUILD_DIR: a `cmake --preset native` build)
set -euo pipefail
build=${1:?usage: fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]}
seconds=${2:-30}
here=$(cd "$(dirname "$0")/.." && pwd)
corpora="$here/tests/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
for seeds in "$corpora"/*/; do
  target=$(basename "$seeds")
  exe="$build/fuzz/fuzz_$target"
  if [ ! -x "$exe" ]; then
    echo "fuzz: $exe is missing (build the native preset first)" >&2
    failed=$((failed + 1))
    continue
  fi
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp "$seeds"/* "$work/$target/corpus/"
  echo "fuzz: $target for ${seconds}s"
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" >"$work/$target/log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$work/$target/log" || true
  else
    failed=$((failed + 1))
    tail -n 60 "$work/$target/log"
    for crash in "$work/$target/artifacts"/*; do
      [ -e "$crash" ] || continue
      echo "fuzz: $target crashed on input $(basename "$crash"):"
      od -A x -t x1z -v "$crash" | head -n 40
    done
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
