#!/usr/bin/env bash
# A version bump in a build tree that has built before reaches every program's version resource, and an edited
# manifest rebuilds its program's resources: windres writes no dependency file, so the build itself must know.
# Works on a copy of the sources. Usage: version_bump_test.sh SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }

mkdir "$work/src"
tar -C "$1" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$work/src" -xf -
cd "$work/src"
cmake --preset mingw >/dev/null
tree=build/mingw
mapfile -t resources < <(ninja -C "$tree" -t targets all |
  sed -n -E 's#^(.*/(FerrolinkCleaner|FerrolinkAudit|OVClientHelperCLI)\.rc\.res): .*#\1#p')

# versions_are NUMBERS TEXT: each program's resource object, brought up to date, carries the version both ways.
versions_are() {
  local res
  [ ${#resources[@]} -eq 3 ] && ninja -C "$tree" "${resources[@]}" >/dev/null || return 1
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
[ "$failures" -eq 0 ]
