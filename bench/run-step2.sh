#!/usr/bin/env bash
# Times step 2 and a whole automatic run under Wine in a prefix of its own: the demo's footprint and client
# processes, and the protection-service double under "OrvaneClientProtectionService" guarding the client's
# service and Standalone key.
# Usage: bench/run-step2.sh [BUILD_DIR]   (defaults to build/mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
bin=$build/bin
"$root/tools/wine/fresh-prefix.sh" "$build/wine" bench-step2
trap '"$root/tools/wine/stop-prefix.sh" "$build/wine" bench-step2' EXIT
export WINEPREFIX="$build/wine/bench-step2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
quiet() { wine "$@" </dev/null >/dev/null; }

quiet "$bin/fake_client.exe" registry make
quiet "$bin/fake_client.exe" services install --stop-pending 1000
quiet "$bin/fake_client.exe" adapter add
quiet "$bin/fake_client.exe" driver publish 'C:\Ferrolink driver source' orvanefldrv.inf
quiet "$bin/fake_client.exe" files make --register
quiet "$bin/fake_client.exe" shortcuts make

mkdir -p "$WINEPREFIX/drive_c/protection"
printf '%s\n' 'protect service ORVANE_Ferrolink' \
  'protect reg HKLM SOFTWARE\OrVANE\SSL-VPN Ferrolink\Standalone' >"$WINEPREFIX/drive_c/protection/script.txt"
quiet "$bin/protection_service.exe" install OrvaneClientProtectionService \
  --script 'C:\protection\script.txt' --log 'C:\protection\frames.log'
quiet "$bin/protection_service.exe" start OrvaneClientProtectionService

install_dir="$WINEPREFIX/drive_c/Program Files (x86)/Orvane/SSL-VPN/Ferrolink"
for image in FLGui.exe Ferrolink.exe FLIdle.exe; do
  cp "$bin/sleeper.exe" "$install_dir/$image"
  wine "C:\\Program Files (x86)\\Orvane\\SSL-VPN\\Ferrolink\\$image" </dev/null >/dev/null 2>&1 &
done
sleep 2

wine "$bin/step2_bench.exe" </dev/null | tr -d '\r'
