#!/usr/bin/env bash
# The main job: builds the cleaner, makes a demo Windows machine (a Wine prefix) with the Ferrolink client's
# footprint in place, runs the cleaner there interactively and shows its console output, its run log and
# what was left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup.sh

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2

wine_dir=$root/build/mingw/wine
bin=$root/build/mingw/bin
echo "== making the demo machine ($wine_dir/demo)"
tools/wine/fresh-prefix.sh "$wine_dir" demo
export WINEPREFIX=$wine_dir/demo WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'tools/wine/stop-prefix.sh "$wine_dir" demo' EXIT
drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files (x86)/Orvane/SSL-VPN/Ferrolink"

echo "== installing the client's footprint"
mkdir -p "$install_dir"
# >>> footprint: each part of the client's footprint installs itself here
# registry: the client's keys (with saved profiles) and its Windows Installer package
wine "$bin/fake_client.exe" registry make </dev/null | tr -d '\r'
# services, adapter, driver package, install folder (registered) and shortcuts; the services take a second to stop
wine "$bin/fake_client.exe" services install --stop-pending 1000 </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" adapter add </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" driver publish 'C:\Ferrolink driver source' orvanefldrv.inf </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" files make --register </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" shortcuts make </dev/null | tr -d '\r'
# <<< footprint

# The maker's protection service (our double) guards the client's service and its Standalone key; step 2 of
# the run asks it to let go of both.
protection_dir="$drive_c/protection"
mkdir -p "$protection_dir"
printf '%s\n' 'protect service ORVANE_Ferrolink' \
  'protect reg HKLM SOFTWARE\OrVANE\SSL-VPN Ferrolink\Standalone' >"$protection_dir/script.txt"
wine "$bin/protection_service.exe" install OrvaneClientProtectionService \
  --script 'C:\protection\script.txt' --log 'C:\protection\frames.log' </dev/null | tr -d '\r'
wine "$bin/protection_service.exe" start OrvaneClientProtectionService </dev/null | tr -d '\r'
show_protection() {
  for kind in service reg; do
    echo "OVClientHelperCLI.exe -q $kind:"
    (wine "$bin/OVClientHelperCLI.exe" -q $kind </dev/null || true) | tr -d '\r' | sed 's/^/  /'
  done
}
echo "what the protection service guards:"
show_protection

# The client's processes: copies of our sleeper under the client's image names, started last so that the
# footprint above does not disturb them.
for image in FLGui.exe Ferrolink.exe FLIdle.exe; do
  cp "$bin/sleeper.exe" "$install_dir/$image"
  wine "C:\\Program Files (x86)\\Orvane\\SSL-VPN\\Ferrolink\\$image" </dev/null >/dev/null 2>&1 &
done
sleep 2
echo "running client processes:"
ps -eo args | grep -E '(FLGui|Ferrolink|FLIdle)\.exe' | grep -v grep | sed 's/^/  /' || true

# FerrolinkAudit.exe: what is left of the client, one line per item; its exit code is the answer for fleet tools.
audit() {
  local rc=0
  wine "$bin/FerrolinkAudit.exe" "$@" </dev/null | tr -d '\r' || rc=$?
  echo "FerrolinkAudit.exe exit code: $rc"
}
echo
echo "== FerrolinkAudit.exe before the run"
audit

echo
echo "== running FerrolinkCleaner.exe (interactive; the pause returns at once without a keyboard)"
work=$root/build/demo-run
mkdir -p "$work"
rm -f "$work/Ferrolink Cleaner Log.txt"
# Its exit code is the answer for deployment agents; Linux shows its low 8 bits: 194 is 3010 (succeed, restart
# needed), 67 is 1603 (failed). A non-zero one must not end the demo.
rc=0
(cd "$work" && wine "$bin/FerrolinkCleaner.exe" </dev/null) | tr -d '\r' || rc=$?
echo "FerrolinkCleaner.exe exit code (low 8 bits): $rc"
echo
echo "== run log ($work/Ferrolink Cleaner Log.txt)"
tr -d '\r' < "$work/Ferrolink Cleaner Log.txt"

echo
echo "== what is left of the footprint"
sleep 1
left=$(ps -eo args | grep -E '(FLGui|Ferrolink|FLIdle)\.exe' | grep -v grep || true)
echo "client processes still running: ${left:-none}"
echo "what the protection service guards now:"
show_protection
# >>> leftovers: each part of the footprint reports what remains of it here
# registry: each client key and each installer key of the client's package, present or gone
wine "$bin/fake_client.exe" registry status </dev/null | tr -d '\r'
# services, adapter, driver packages, install folder, shortcuts
for part in services adapter driver files shortcuts; do
  wine "$bin/fake_client.exe" $part status </dev/null | tr -d '\r'
done
# <<< leftovers

echo
echo "== FerrolinkAudit.exe after the run (and the verdict of its --json form)"
audit
wine "$bin/FerrolinkAudit.exe" --json </dev/null | tr -d '\r' | grep -E '^  "(tool|version|result|exit_code)"' || true
