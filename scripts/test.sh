#!/usr/bin/env bash
# Sets up the machine and passes every test: the portable code natively (ASan + UBSan, bounded fuzzing),
# then the product and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== native build: portable code with sanitizers"
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native -j2
if [ -x scripts/fuzz.sh ]; then
  echo "== bounded fuzzing"
  scripts/fuzz.sh build/native 30
fi

echo "== Windows build, tests under Wine"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
ctest --preset mingw -j2
