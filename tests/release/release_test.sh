#!/usr/bin/env bash
# The release packed from this build tree: the same bytes from two runs at different times and places, one
# product version in every program and the MSI, valid signatures from a throw-away certificate, one package code
# however often it is signed, signing material refused before anything is built or written, and its MSI on a
# Wine machine with the client installed: the cleaner removes the client and leaves the package whole, and
# msiexec /x removes the package without a trace.
# Usage: release_test.sh SOURCE_DIR BUILD_DIR WINE_DIR
set -euo pipefail
source_dir=$1 build=$2 wine_dir=$3
package=$source_dir/tools/release/package.sh
programs=(FerrolinkCleaner.exe FerrolinkAudit.exe OVClientHelperCLI.exe)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=FerrolinkCleaner-$version-x64
IFS=. read -r -a parts <<<"$version.0.0.0"
file_version=${parts[0]}.${parts[1]}.${parts[2]}.${parts[3]}
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

package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
# The version resource's numbers and the product's name and version, as Explorer and inventory read them.
resource_versions() {
  x86_64-w64-mingw32-windres -i "$1" -O rc |
    sed -n -E 's/^ (FILE|PRODUCT)VERSION (.*)/\2/p; s/^ *VALUE "Product(Name|Version)", //p' | tr '\n' '|'
}
sums_hold() { (cd "$1" && sha256sum --quiet -c SHA256SUMS); }
lacks() { ! grep -q -a -F "$1" "$2"; }
fails_verification() { ! osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }

unset FL_SIGN_CERT FL_SIGN_KEY FL_SIGN_KEY_PASS_FILE FL_SIGN_TIMESTAMP_URL
export SOURCE_DATE_EPOCH=1767225600 FL_SOURCE_COMMIT=0123456789abcdef0123456789abcdef01234567

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
  binary="${parts[0]}, ${parts[1]}, ${parts[2]}, ${parts[3]}"
  check "$program: version $file_version of the product \"Ferrolink Cleaner\" $version" \
    [ "$(resource_versions "$work/first/zip/$program")" = "$binary|$binary|\"Ferrolink Cleaner\"|\"$version\"|" ]
done
# A tree configured for 9.9 whose programs still carry the old version: the release must not pass them off.
mkdir -p "$work/stale" && ln -s "$build/bin" "$work/stale/bin"
sed 's/^CMAKE_PROJECT_VERSION:STATIC=.*/CMAKE_PROJECT_VERSION:STATIC=9.9/' "$build/CMakeCache.txt" >"$work/stale/CMakeCache.txt"
stale_refused() { ! "$package" "$work/stale" "$work/stale-out" >"$work/stale.err" 2>&1 && grep -q "instead of 9.9.0.0" "$work/stale.err"; }
check "programs of another version than the tree's are refused" stale_refused
msi=$work/first/$name.msi
for table in Shortcut ServiceInstall ServiceControl Registry Environment; do
  check "the MSI has no $table rows" [ -z "$(table_rows "$msi" "$table")" ]
done
check "the MSI's custom actions only set properties (type 51)" \
  [ -z "$(table_rows "$msi" CustomAction | awk -F'\t' '$2 % 64 != 51')" ]
check "the MSI's File table gives every program version $file_version" \
  [ "$(table_rows "$msi" File | awk -F'\t' '$5 == v' v="$file_version" | wc -l)" = ${#programs[@]} ]

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
check "no time stamp: the release says the signatures lapse with the certificate" \
  grep -q 'WARNING: no time-stamp server.*lapse when the certificate expires' "$work/signed.out"

echo "== one package code per version and commit, signed or not"
# A renewed certificate (another key, this one with a password) signs the same commit again.
openssl req -x509 -newkey rsa:2048 -keyout "$work/renewed.key" -out "$work/renewed.pem" -days 2 \
  -subj "/CN=Ferrolink Cleaner renewed signer" -addext extendedKeyUsage=codeSigning \
  -passout pass:renewed-secret 2>/dev/null
echo renewed-secret >"$work/renewed.pass"
FL_SIGN_CERT=$work/renewed.pem FL_SIGN_KEY=$work/renewed.key FL_SIGN_KEY_PASS_FILE=$work/renewed.pass \
  "$package" "$build" "$work/resigned" >/dev/null
FL_SOURCE_COMMIT=fedcba9876543210fedcba9876543210fedcba98 "$package" "$build" "$work/other-commit" >/dev/null
unsigned_code=$(package_code "$work/first/$name.msi")
code_is() { [ "$(package_code "$work/$1/$name.msi")" "$2" "$unsigned_code" ]; }
check "signed: the unsigned release's package code" code_is signed =
check "re-signed with a renewed certificate: the same package code" code_is resigned =
check "another commit: another package code" code_is other-commit !=

echo "== signing material that cannot sign is refused before anything is built or written"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tls.key" -out "$work/tls.pem" -days 2 \
  -subj "/CN=Ferrolink Cleaner TLS only" -addext extendedKeyUsage=serverAuth 2>/dev/null
echo wrong-secret >"$work/wrong.pass"
release_tree() { stat -c %Y "$source_dir/build/release/CMakeCache.txt" 2>/dev/null || echo none; }
# refused MESSAGE CERT KEY [PASS_FILE]: scripts/release.sh stops with MESSAGE before it builds, and writes nothing.
refused() {
  local before rc=0
  before=$(release_tree)
  FL_SIGN_CERT=$2 FL_SIGN_KEY=$3 FL_SIGN_KEY_PASS_FILE=${4:-} "$source_dir/scripts/release.sh" "$work/refused" \
    </dev/null >"$work/refused.out" 2>&1 || rc=$?
  [ "$rc" -ne 0 ] && grep -q -F "$1" "$work/refused.out" && ! grep -q '^== building' "$work/refused.out" &&
    [ ! -e "$work/refused" ] && [ "$(release_tree)" = "$before" ] || { cat "$work/refused.out"; return 1; }
}
while IFS='|' read -r what message cert key pass; do
  check "refused before the build: $what" refused "$message" "$work/$cert" "$work/$key" ${pass:+"$work/$pass"}
done <<'ROWS'
a key that does not match its certificate|does not match the certificate|cert.pem|tls.key
a certificate without the code-signing usage|does not allow code signing|tls.pem|tls.key
the wrong password|wrong password|renewed.pem|renewed.key|wrong.pass
an encrypted key without its password|set FL_SIGN_KEY_PASS_FILE|renewed.pem|renewed.key
a certificate file that holds none|holds no certificate|key.pem|key.pem
ROWS

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
arp_value() {
  wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /v "$2" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
}
arp_name() { arp_value "$1" DisplayName; }
audit_exit() {
  local rc=0
  wine 'C:\Program Files\Ferrolink Cleaner\FerrolinkAudit.exe' </dev/null >"$work/audit.txt" 2>&1 || rc=$?
  echo "$rc"
}

check "msiexec /i installs the MSI" wine msiexec /i "$(winepath -w "$msi")" /qn
check "the signed programs are in C:\\Program Files\\Ferrolink Cleaner" programs_installed
check "the installed FerrolinkCleaner.exe verifies" verify "$installed/FerrolinkCleaner.exe"
check "Add/Remove Programs shows \"Ferrolink Cleaner\"" [ "$(arp_name "$product")" = "Ferrolink Cleaner" ]
check "its InstallLocation is the folder" \
  [ "$(arp_value "$product" InstallLocation)" = 'C:\Program Files\Ferrolink Cleaner\' ]
registered=$(package_traces)

echo "-- the client's footprint, and a package under the client's name with another upgrade code"
wine "$bin/fake_client.exe" registry make </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" services install </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" files make --register </dev/null | tr -d '\r'
wine "$bin/fake_client.exe" shortcuts make </dev/null | tr -d '\r'
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
(cd "$work/upgrade" && cmake -DVERSION=9.9 -DSOURCE_ID=upgrade -DSTAGE=stage -DOUT=next.wxs -P "$source_dir/tools/release/msi_source.cmake" &&
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
