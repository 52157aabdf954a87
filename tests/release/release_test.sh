#!/usr/bin/env bash
# The release packed from this build tree: the same bytes from two runs at different times and places, valid
# signatures from a throw-away certificate, and its MSI on a Wine machine with the client installed: the cleaner
# removes the client and leaves the package whole, and msiexec /x removes the package without a trace.
# Usage: release_test.sh SOURCE_DIR BUILD_DIR WINE_DIR
set -euo pipefail
source_dir=$1 build=$2 wine_dir=$3
package=$source_dir/tools/release/package.sh
programs=(FerrolinkCleaner.exe FerrolinkAudit.exe OVClientHelperCLI.exe)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=FerrolinkCleaner-$version-x64
work=$(mktemp -d)
cleanup() {
  "$source_dir/tools/wine/stop-prefix.sh" "$wine_dir" release
  rm -rf "$wine_dir/release" "$work"
}
trap cleanup EXIT

failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
pe_time() {
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' '
}
table_rows() { msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4; }
msi_property() { table_rows "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }
# Windows Installer's packed form of a GUID, as its registry keys name products, upgrade codes and components.
packed() {
  local g=${1//[\{\}-]/} out i
  out=$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")
  for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
  echo "$out"
}

sums_hold() { (cd "$1" && sha256sum --quiet -c SHA256SUMS); }
lacks() { ! grep -q -a -F "$1" "$2"; }
fails_verification() { ! osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }

unset FL_SIGN_CERT FL_SIGN_KEY FL_SIGN_KEY_PASS_FILE FL_SIGN_TIMESTAMP_URL
export SOURCE_DATE_EPOCH=1767225600

echo "== reproducible: two runs, two folders, two seconds apart"
"$package" "$build" "$work/first" >"$work/first.out"
sleep 2
"$package" "$build" "$work/second" >/dev/null
for file in "$name.zip" "$name.msi" SHA256SUMS; do
  check "$file is byte-identical" cmp "$work/first/$file" "$work/second/$file"
done
check "the unsigned release says so" grep -q '^UNSIGNED' "$work/first.out"
check "SHA256SUMS holds" sums_hold "$work/first"
unzip -q "$work/first/$name.zip" -d "$work/first/zip"
check "the zip holds the three programs and README.txt" \
  [ "$(unzip -Z1 "$work/first/$name.zip" | tr '\n' ' ')" = "${programs[*]} README.txt " ]
for program in "${programs[@]}"; do
  check "$program: PE time stamp is SOURCE_DATE_EPOCH" [ "$(pe_time "$work/first/zip/$program")" = "$SOURCE_DATE_EPOCH" ]
  check "$program: no clone folder in it" lacks "$source_dir/" "$work/first/zip/$program"
done
msi=$work/first/$name.msi
for table in CustomAction Shortcut ServiceInstall ServiceControl Registry Environment; do
  check "the MSI has no $table rows" [ -z "$(table_rows "$msi" "$table")" ]
done

echo "== signed with a throw-away certificate"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Ferrolink Cleaner test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
FL_SIGN_CERT=$work/cert.pem FL_SIGN_KEY=$work/key.pem "$package" "$build" "$work/signed" >"$work/signed.out"
check "the signed release says so" grep -q '^signed: ' "$work/signed.out"
unzip -q "$work/signed/$name.zip" -d "$work/signed/zip"
verify() {
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; then
    grep -E '^(Signature verification|Number of verified)' "$work/verify.log" | sed 's/^/   /'
    return 0
  fi
  cat "$work/verify.log"
  return 1
}
for file in "${programs[@]/#/$work/signed/zip/}" "$work/signed/$name.msi"; do
  check "osslsigncode verify $(basename "$file")" verify "$file"
done
check "an unsigned program fails that verification" fails_verification "$work/first/zip/FerrolinkCleaner.exe"

echo "== the signed MSI on a machine with the client (Wine)"
"$source_dir/tools/wine/fresh-prefix.sh" "$wine_dir" release
export WINEPREFIX=$wine_dir/release WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
bin=$build/bin
msi=$work/signed/$name.msi
installed=$WINEPREFIX/drive_c/Program\ Files/Ferrolink\ Cleaner
product=$(msi_property "$msi" ProductCode)
upgrade=$(msi_property "$msi" UpgradeCode)
# Every key or value of the registry that names the package: its name, product, upgrade and component codes,
# plain or packed.
ids=("ferrolink cleaner")
add_ids() {
  local guid
  for guid in "$@"; do ids+=("$(tr -d '{}' <<<"$guid")" "$(packed "$guid")"); done
}
add_ids "$product" "$upgrade" $(table_rows "$msi" Component | cut -f2)
package_traces() {
  local hive re
  re=$(IFS='|' && tr 'A-Z' 'a-z' <<<"${ids[*]}")
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    wine regedit /E "$(winepath -w "$work/$hive.reg")" "$hive"
    iconv -f UTF-16LE -t UTF-8 "$work/$hive.reg" | tr -d '\r' |
      awk -v re="$re" '/^\[/ { inside = (tolower($0) ~ re) } inside || tolower($0) ~ re { print }'
  done
}
# Windows Installer keeps a copy of every installed package in C:\windows\Installer.
no_cached_copy() {
  local file
  for file in "$WINEPREFIX/drive_c/windows/Installer"/*.msi; do
    [ ! -e "$file" ] || [ "$(msi_property "$file" ProductCode)" != "$1" ] || return 1
  done
}
programs_installed() {
  local program
  for program in "${programs[@]}"; do cmp -s "$work/signed/zip/$program" "$installed/$program" || return 1; done
}
arp_name() {
  wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /v DisplayName 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *DisplayName *REG_SZ *//p'
}
audit_exit() {
  local rc=0
  wine 'C:\Program Files\Ferrolink Cleaner\FerrolinkAudit.exe' </dev/null >"$work/audit.txt" 2>&1 || rc=$?
  echo "$rc"
}

check "msiexec /i installs the MSI" wine msiexec /i "$(winepath -w "$msi")" /qn
check "the signed programs are in C:\\Program Files\\Ferrolink Cleaner" programs_installed
check "the installed FerrolinkCleaner.exe verifies" verify "$installed/FerrolinkCleaner.exe"
check "Add/Remove Programs shows \"Ferrolink Cleaner\"" [ "$(arp_name "$product")" = "Ferrolink Cleaner" ]
registered=$(package_traces)

echo "-- the client's footprint, and a package under the client's name with another upgrade code"
wine "$bin/footprint.exe" registry make </dev/null | tr -d '\r'
wine "$bin/footprint.exe" services install </dev/null | tr -d '\r'
wine "$bin/footprint.exe" files make --register </dev/null | tr -d '\r'
wine "$bin/footprint.exe" shortcuts make </dev/null | tr -d '\r'
wine msiexec /i "$(winepath -w "$bin/msi/ferrolink_by_name.msi")" /qn
check "the audit finds the client (exit code 1)" [ "$(audit_exit)" = 1 ]

echo "-- the installed FerrolinkCleaner.exe -auto"
wine 'C:\Program Files\Ferrolink Cleaner\FerrolinkCleaner.exe' -auto </dev/null | tr -d '\r' >"$work/cleaner.txt"
sed 's/^/   /' "$work/cleaner.txt"
check "the cleaner's verdict is succeed" grep -q '^Uninstall Ferrolink succeed' "$work/cleaner.txt"
audit=$(audit_exit)
check "the audit finds nothing of the client (exit code 0)" [ "$audit" = 0 ]
[ "$audit" = 0 ] || cat "$work/audit.txt"
check "the package's registration is as installed" [ "$(package_traces)" = "$registered" ]
check "its programs are all there" programs_installed
check "its Add/Remove Programs entry stays" [ "$(arp_name "$product")" = "Ferrolink Cleaner" ]

echo "-- msiexec /x"
check "msiexec /x removes the package" wine msiexec /x "$product" /qn
check "C:\\Program Files\\Ferrolink Cleaner is gone" [ ! -e "$installed" ]
check "no key or value names the package" [ -z "$(package_traces)" ]
check "no cached copy of the package" no_cached_copy "$product"

echo "-- a major upgrade: the same programs as version 9.9 replace $version"
mkdir -p "$work/upgrade/stage"
cp "${programs[@]/#/$work/first/zip/}" "$work/upgrade/stage/"
(cd "$work/upgrade" && cmake -DVERSION=9.9 -DSTAGE=stage -DOUT=next.wxs -P "$source_dir/tools/release/msi_source.cmake" &&
  wixl -a x64 -o next.msi next.wxs) >/dev/null 2>&1
next=$(msi_property "$work/upgrade/next.msi" ProductCode)
add_ids "$next"
wine msiexec /i "$(winepath -w "$msi")" /qn
check "version 9.9 installs over $version" wine msiexec /i "$(winepath -w "$work/upgrade/next.msi")" /qn
check "only version 9.9 is in Add/Remove Programs" \
  [ "$(arp_name "$product")|$(arp_name "$next")" = "|Ferrolink Cleaner" ]
check "msiexec /x removes version 9.9" wine msiexec /x "$next" /qn
check "no key or value names either version" [ -z "$(package_traces)" ]
check "C:\\Program Files\\Ferrolink Cleaner is gone again" [ ! -e "$installed" ]

echo "release test: $failures failure(s)"
[ "$failures" -eq 0 ]
