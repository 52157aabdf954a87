#!/usr/bin/env bash
# The release: builds the three shipped programs (Release, build/mingw) and writes dist/: the zip, the MSI and
# SHA256SUMS. Reproducible: SOURCE_DATE_EPOCH is the commit's time unless given. Signed when FL_SIGN_CERT and
# FL_SIGN_KEY name a certificate and its key (see README.md); unsigned otherwise, and it says so.
# Usage: scripts/release.sh [OUT_DIR]   (default: dist)
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
out=${1:-dist}
scripts/setup.sh

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git clone: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
if ! git diff --quiet HEAD -- 2>/dev/null; then
  echo "release: WARNING: the working tree has changes that commit $(git rev-parse --short HEAD) does not"
fi

echo "== building FerrolinkCleaner.exe, FerrolinkAudit.exe, OVClientHelperCLI.exe (Release)"
cmake --preset mingw >/dev/null
cmake --build build/mingw --target FerrolinkCleaner FerrolinkAudit OVClientHelperCLI -j2
echo "== packing $out/"
tools/release/package.sh build/mingw "$out"
echo "release: done in $(($(date +%s) - started)) s"
