#!/usr/bin/env bash
# The release: builds the three shipped programs (Release) in a build folder of its own, made afresh every time
# (build/release), and writes dist/: the zip, the MSI and SHA256SUMS. Reproducible: SOURCE_DATE_EPOCH is the
# commit's time unless given. Signed when FL_SIGN_CERT and FL_SIGN_KEY name a certificate and its key (see
# README.md), which are checked before anything is built; unsigned otherwise, and it says so.
# Usage: scripts/release.sh [OUT_DIR]   (default: dist)
set -euo pipefail
# The signing files are named from the caller's folder.
for var in FL_SIGN_CERT FL_SIGN_KEY FL_SIGN_KEY_PASS_FILE; do
  [ -z "${!var:-}" ] || [[ ${!var} == /* ]] || export "$var=$PWD/${!var}"
done
cd "$(dirname "$0")/.."
started=$(date +%s)
out=${1:-dist}
build=build/release
die() { echo "release: $*" >&2; exit 1; }
scripts/setup.sh

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    die "not a git clone: set SOURCE_DATE_EPOCH and FL_SOURCE_COMMIT"
fi
export SOURCE_DATE_EPOCH
if [ -z "${FL_SOURCE_COMMIT:-}" ]; then
  FL_SOURCE_COMMIT=$(git rev-parse HEAD 2>/dev/null) || die "not a git clone: set FL_SOURCE_COMMIT"
fi
export FL_SOURCE_COMMIT
if git rev-parse --git-dir >/dev/null 2>&1 && ! git diff --quiet HEAD --; then
  echo "release: WARNING: the working tree has changes that commit $(git rev-parse --short HEAD) does not"
fi

# A wrong key, password or certificate is found now, not after the build.
source tools/release/signing.sh
if signing_requested; then
  checks=$(mktemp -d)
  trap 'rm -rf "$checks"' EXIT
  signing_check "$checks"
  echo "release: signing as $SIGNING_SUBJECT, certificate valid until $SIGNING_NOT_AFTER"
  signing_lapse_warning
fi

# No object of an earlier configuration (another version, other options) can reach the release.
echo "== building FerrolinkCleaner.exe, FerrolinkAudit.exe, OVClientHelperCLI.exe (Release, $build, fresh)"
rm -rf "$build"
cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build" --target FerrolinkCleaner FerrolinkAudit OVClientHelperCLI -j2
echo "== packing $out/"
tools/release/package.sh "$build" "$out"
echo "release: done in $(($(date +%s) - started)) s"
