#!/usr/bin/env bash
# A version bump in a build tree that has built before reaches every program's version resource, and an edited
# manifest rebuilds its program's resources: windres writes no dependency file, so the build itself must know.
# Works on a copy of the sources, so the tree under test keeps its version.
# Usage: version_bump_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

mkdir "$work/src"
tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$work/src" -xf -
cd "$work/src"
cmake --preset mingw >/dev/null
tree=build/mingw
mapfile -t resources < <(ninja -C "$tree" -t targets all |
  sed -n -E 's#^(.*/(FerrolinkCleaner|FerrolinkAudit|OVClientHelperCLI)\.rc\.res): .*#\1#p')
check "the three programs have a resource object each" [ ${#resources[@]} -eq 3 ]

# versions_are FILEVERSION TEXT: every resource object carries the version as both numbers and text.
versions_are() {
  local res
  ninja -C "$tree" "${resources[@]}" >/dev/null
  for res in "${resources[@]}"; do
    [ "$(x86_64-w64-mingw32-windres -J coff -O rc -i "$tree/$res" |
      sed -n -E 's/^ (FILE|PRODUCT)VERSION (.*)/\2/p; s/^ *VALUE "(File|Product)Version", //p' | tr '\n' '|')" \
      = "$1|$1|\"$2\"|\"$2\"|" ] || { echo "  $res is not $2"; return 1; }
  done
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/CMakeCache.txt")
IFS=. read -r -a parts <<<"$version.0.0.0"
check "built once: every resource is version $version" versions_are "${parts[0]}, ${parts[1]}, ${parts[2]}, 0" "$version"

sed -i -E 's/^(project\(FerrolinkCleaner VERSION )[0-9.]+/\19.8.7/' CMakeLists.txt
check "bumped to 9.8.7 in the same tree: every resource follows" versions_are "9, 8, 7, 0" "9.8.7"

echo "<!-- edited -->" >>cleaner/FerrolinkCleaner.manifest
check "an edited manifest rebuilds its program's resource object, and only that" \
  [ "$(ninja -C "$tree" -n "${resources[@]}" | sed -n 's#.*Building RC object .*/##p')" = "FerrolinkCleaner.rc.res" ]

echo "version bump test: $failures failure(s)"
[ "$failures" -eq 0 ]
