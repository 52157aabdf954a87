#!/usr/bin/env bash
# Packs the release from a built tree into OUT_DIR: FerrolinkCleaner-<version>-x64.zip (the three programs and
# README.txt), FerrolinkCleaner-<version>-x64.msi and SHA256SUMS. Two runs on the same programs and the same
# SOURCE_DATE_EPOCH write the same bytes, wherever and whenever they run (unsigned).
# Usage: tools/release/package.sh BUILD_DIR OUT_DIR     (SOURCE_DATE_EPOCH set; scripts/release.sh sets it)
# Signing: FL_SIGN_CERT (certificate, PEM or DER, with its chain) and FL_SIGN_KEY (its private key); optional
# FL_SIGN_KEY_PASS_FILE (a file holding the key's password) and FL_SIGN_TIMESTAMP_URL (an RFC 3161 server).
set -euo pipefail
die() { echo "release: $*" >&2; exit 1; }
build=${1:?usage: package.sh BUILD_DIR OUT_DIR}
out=${2:?usage: package.sh BUILD_DIR OUT_DIR}
[ -n "${SOURCE_DATE_EPOCH:-}" ] || die "SOURCE_DATE_EPOCH is not set"
here=$(cd "$(dirname "$0")" && pwd)
# Zip entries carry local times, and the MSI dates are read back as text: one zone for both, whatever the machine.
export TZ=UTC LC_ALL=C
programs=(FerrolinkCleaner.exe FerrolinkAudit.exe OVClientHelperCLI.exe)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[ -n "$version" ] || die "$build is not a configured build tree (no project version in its CMakeCache.txt)"
name=FerrolinkCleaner-$version-x64

signing=false
if [ -n "${FL_SIGN_CERT:-}${FL_SIGN_KEY:-}" ]; then
  [ -r "${FL_SIGN_CERT:-}" ] && [ -r "${FL_SIGN_KEY:-}" ] ||
    die "signing needs both FL_SIGN_CERT and FL_SIGN_KEY, each a readable file"
  signing=true
fi

# sign FILE: Authenticode, SHA-256, in place.
sign() {
  local args=(sign -h sha256 -comm -n "Ferrolink Cleaner" -certs "$FL_SIGN_CERT" -key "$FL_SIGN_KEY")
  case $1 in *.msi) args+=(-add-msi-dse) ;; esac
  [ -z "${FL_SIGN_KEY_PASS_FILE:-}" ] || args+=(-readpass "$FL_SIGN_KEY_PASS_FILE")
  [ -z "${FL_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$FL_SIGN_TIMESTAMP_URL")
  osslsigncode "${args[@]}" -in "$1" -out "$1.signed" >/dev/null || die "signing $(basename "$1") failed"
  mv "$1.signed" "$1"
}

# wixl stamps the summary information with the time it runs; both dates become SOURCE_DATE_EPOCH. The two
# FILETIMEs are replaced where they stand in the file, and the result is read back.
summary_dates() { msiinfo export "$1" _SummaryInformation | tr -d '\r' | awk -F'\t' '$1 == 12 || $1 == 13 { print $2 }'; }
set_msi_dates() {
  local msi=$1 from=() value
  while read -r value; do from+=("$(date -u -d "$value" +%s)"); done < <(summary_dates "$msi")
  [ ${#from[@]} -eq 2 ] || die "$msi: no creation and save dates in its summary information"
  perl -e '
    my ($file, $to, @from) = @ARGV;
    my %seen;
    my $filetime = sub { pack("Q<", ($_[0] + 11644473600) * 10000000) };
    open(my $in, "<:raw", $file) or die "$file: $!\n";
    my $data = do { local $/; <$in> };
    close $in;
    my ($new, $count) = ($filetime->($to), 0);
    for my $old (map { $filetime->($_) } grep { !$seen{$_}++ } @from) {
      $count += ($data =~ s/\Q$old\E/$new/g) || 0;
    }
    $count == 2 or die "$file: expected 2 summary dates, found $count\n";
    open(my $outfh, ">:raw", $file) or die "$file: $!\n";
    print $outfh $data;
    close $outfh or die "$file: $!\n";
  ' "$msi" "$SOURCE_DATE_EPOCH" "${from[@]}"
  local want
  want=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y/%m/%d %H:%M:%S')
  [ "$(summary_dates "$msi" | sort -u)" = "$want" ] ||
    die "$msi: its summary dates are not $want"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
mkdir -p "$stage"

# The programs: without the symbols and the runtime libraries' debug data, the PE header's time stamp set to
# SOURCE_DATE_EPOCH (strip writes it), signed before they are packed.
for program in "${programs[@]}"; do
  [ -f "$build/bin/$program" ] || die "$build/bin/$program is missing: build it first"
  x86_64-w64-mingw32-strip --strip-all -o "$stage/$program" "$build/bin/$program"
  if $signing; then sign "$stage/$program"; fi
done
sed -e "s/@FL_VERSION@/$version/g" -e 's/$/\r/' "$here/README.txt" >"$stage/README.txt"
chmod 0644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

# The zip: fixed order, no folder entries, no extra fields (owner, exact times).
(cd "$stage" && zip -X -D -q "$work/$name.zip" "${programs[@]}" README.txt)

# The MSI.
# wixl takes the programs' paths relative to the source (it refuses absolute ones).
codes=$(cd "$work" && cmake -DVERSION="$version" -DSTAGE=stage -DOUT="$name.wxs" -P "$here/msi_source.cmake" 2>&1) ||
  die "writing the package source failed: $codes"
product_code=$(sed -n 's/^product_code=//p' <<<"$codes")
package_code=$(sed -n 's/^package_code=//p' <<<"$codes")
(cd "$work" && wixl -a x64 -o "$name.msi" "$name.wxs")
# wixl makes up a package code of its own: the derived one replaces it.
msibuild "$work/$name.msi" -s "Ferrolink Cleaner" Orvane "x64;1033" "$package_code"
set_msi_dates "$work/$name.msi"
if $signing; then sign "$work/$name.msi"; fi

mkdir -p "$out"
rm -f "$out/$name.zip" "$out/$name.msi" "$out/SHA256SUMS"
cp "$work/$name.zip" "$work/$name.msi" "$out/"
(cd "$out" && sha256sum "$name.zip" "$name.msi" >SHA256SUMS)

echo "release $version from $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC') (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
echo "MSI: product code $product_code, package code $package_code"
if $signing; then
  stamp="no time stamp"
  [ -z "${FL_SIGN_TIMESTAMP_URL:-}" ] || stamp="time stamp from $FL_SIGN_TIMESTAMP_URL"
  echo "signed: the programs and the MSI (Authenticode, SHA-256, $stamp)"
else
  echo "UNSIGNED: neither the programs nor the MSI carry a signature (set FL_SIGN_CERT and FL_SIGN_KEY to sign)"
fi
echo "$out:"
(cd "$out" && for file in "$name.zip" "$name.msi" SHA256SUMS; do printf '  %-36s %9d bytes\n' "$file" "$(stat -c %s "$file")"; done)
echo "SHA256SUMS:"
sed 's/^/  /' "$out/SHA256SUMS"
