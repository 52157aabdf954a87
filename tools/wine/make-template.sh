#!/usr/bin/env bash
# Makes a Wine prefix that looks like a real Windows machine where it matters to the cleaner:
# real user shell folders inside the prefix (Wine links them to the Linux home), the Quick Launch folder
# every profile has, and the Windows Installer products key that a fresh prefix lacks.
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
rm -rf "$prefix.tmp"
WINEPREFIX=$prefix.tmp wineboot -i >/dev/null 2>&1
for link in "$prefix.tmp"/drive_c/users/*/*; do
  [ -L "$link" ] || continue
  rm "$link" && mkdir "$link"
done
for profile in "$prefix.tmp"/drive_c/users/*/; do
  [ "$(basename "$profile")" = Public ] && continue
  mkdir -p "$profile/AppData/Roaming/Microsoft/Internet Explorer/Quick Launch"
done
WINEPREFIX=$prefix.tmp wine reg add 'HKEY_CLASSES_ROOT\Installer\Products' /f >/dev/null 2>&1
# The registry reaches the disk only when the server ends.
WINEPREFIX=$prefix.tmp wineserver -w
mv "$prefix.tmp" "$prefix"
