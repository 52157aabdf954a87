#!/usr/bin/env bash
# Builds the release of one commit twice, from two clones in different folders at different times, without
# a compiler cache, and compares the unsigned zip, MSI and programs byte for byte. Takes two full builds.
# Usage: tools/release/check-reproducible.sh [COMMIT]   (default: HEAD)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$repo" rev-parse "${1:-HEAD}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset FL_SIGN_CERT FL_SIGN_KEY FL_SIGN_KEY_PASS_FILE FL_SOURCE_COMMIT SOURCE_DATE_EPOCH CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
clones=("$work/a/first" "$work/bb/second-clone")
for clone in "${clones[@]}"; do
  git clone -q --no-checkout "$repo" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  echo "== $clone: scripts/release.sh"
  (cd "$clone" && bash scripts/release.sh) | tail -n 12
  mkdir -p "$clone/dist/zip"
  (cd "$clone/dist" && unzip -q ./*.zip -d zip)
done
same=true
for clone in "${clones[@]}"; do
  (cd "$clone/dist" && sha256sum ./*.zip ./*.msi zip/*.exe | sed "s|^|  |; s|  \./|  |; s|\$|   ($clone)|")
done
for file in $(cd "${clones[0]}/dist" && ls ./*.zip ./*.msi SHA256SUMS zip/*); do
  cmp -s "${clones[0]}/dist/$file" "${clones[1]}/dist/$file" || { echo "DIFFERS: $file"; same=false; }
done
if $same; then echo "reproducible: both clones wrote the same bytes"; else exit 1; fi
