#!/usr/bin/env bash
# Packs the release from a built tree into OUT_DIR: FerrolinkCleaner-<version>-x64.zip (the three programs and
# README.txt), FerrolinkCleaner-<version>-x64.msi and SHA256SUMS. Two runs on the same programs and the same
# SOURCE_DATE_EPOCH write the same bytes, wherever and whenever they run (unsigned).
# Usage: tools/release/package.sh BUILD_DIR OUT_DIR     (SOURCE_DATE_EPOCH set; scripts/release.sh sets it)
# FL_SOURCE_COMMIT names the commit the programs were built from (default: the build's source clone's HEAD).
# Signing: FL_SIGN_CERT (certificate, PEM or DER, with its chain) and FL_SIGN_KEY (its private key); optional
# FL_SIGN_KEY_PASS_FILE (a file holding the key's password) and FL_SIGN_TIMESTAMP_URL (an RFC 3161 server).
# All of it is checked before anything is written, and every signature is verified after signing.
set -euo pipefail
die() { echo "release: $*" >&2; exit 1; }
build=${1:?usage: package.sh BUILD_DIR OUT_DIR}
out=${2:?usage: package.sh BUILD_DIR OUT_DIR}
[ -n "${SOURCE_DATE_EPOCH:-}" ] || die "SOURCE_DATE_EPOCH is not set"
here=$(cd "$(dirname "$0")" && pwd)
# Zip entries carry local times, and the MSI dates are read back as text: one zone for both, whatever the machine.
export TZ=UTC LC_ALL=C
programs=(FerrolinkCleaner.exe FerrolinkAudit.exe OVClientHelperCLI.exe)

source "$here/signing.sh"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null || true; }
version=$(cache_value CMAKE_PROJECT_VERSION)
[ -n "$version" ] || die "$build is not a configured build tree (no project version in its CMakeCache.txt)"
name=FerrolinkCleaner-$version-x64
# A version resource holds four numbers; the parts the project leaves out are 0.
IFS=. read -r -a parts <<<"$version.0.0.0"
file_version=${parts[0]}.${parts[1]}.${parts[2]}.${parts[3]}
commit=${FL_SOURCE_COMMIT:-$(git -C "$(cache_value CMAKE_HOME_DIRECTORY)" rev-parse HEAD 2>/dev/null || true)}
[ -n "$commit" ] || die "the build's source is not a git clone: set FL_SOURCE_COMMIT to the commit it holds"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signing=false
if signing_requested; then
  signing_check "$work"
  signing=true
fi

# version_resource FILE: FILEVERSION and PRODUCTVERSION of the program's version resource, as a.b.c.d each.
version_resource() {
  x86_64-w64-mingw32-windres -i "$1" -O rc 2>/dev/null |
    sed -n 's/^ \(FILE\|PRODUCT\)VERSION \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\2.\3.\4.\5/p'
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

stage=$work/stage
mkdir -p "$stage"

# The programs: without the symbols and the runtime libraries' debug data, the PE header's time stamp set to
# SOURCE_DATE_EPOCH (strip writes it), each of the product's version (a program from an older configuration is
# refused), signed before they are packed. The package code comes from the version, the commit and the unsigned
# programs: a signature, or a second signing, does not make another package.
source_id="commit=$commit"
for program in "${programs[@]}"; do
  [ -f "$build/bin/$program" ] || die "$build/bin/$program is missing: build it first"
  x86_64-w64-mingw32-strip --strip-all -o "$stage/$program" "$build/bin/$program"
  found=$(version_resource "$stage/$program" | sort -u | tr '\n' ' ')
  [ "$found" = "$file_version " ] ||
    die "$build/bin/$program carries version ${found:-none }instead of $file_version: rebuild it"
  source_id+=" $program=$(sha256sum "$stage/$program" | cut -d' ' -f1)"
  if $signing; then signing_sign "$work" "$stage/$program"; fi
done
# The package's source and codes; README.txt names the product code for uninstalling without the package.
# wixl takes the programs' paths relative to the source (it refuses absolute ones).
codes=$(cd "$work" && cmake -DVERSION="$version" -DSOURCE_ID="$source_id" -DSTAGE=stage -DOUT="$name.wxs" \
  -P "$here/msi_source.cmake" 2>&1) || die "writing the package source failed: $codes"
product_code=$(sed -n 's/^product_code=//p' <<<"$codes")
package_code=$(sed -n 's/^package_code=//p' <<<"$codes")
sed -e "s/@FL_VERSION@/$version/g" -e "s/@FILE_VERSION@/$file_version/g" -e "s/@FL_PRODUCT_CODE@/$product_code/g" \
  -e 's/$/\r/' "$here/README.txt" >"$stage/README.txt"
! grep -q -E '@[A-Z_]+@' "$stage/README.txt" || die "README.txt has a placeholder that nothing fills"
chmod 0644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

# The zip: fixed order, no folder entries, no extra fields (owner, exact times).
(cd "$stage" && zip -X -D -q "$work/$name.zip" "${programs[@]}" README.txt)

# The MSI.
(cd "$work" && wixl -a x64 -o "$name.msi" "$name.wxs")
# wixl makes up a package code of its own: the derived one replaces it. It leaves the File table's versions
# empty, and without them an upgrade would replace a program by its date instead of its version.
msibuild "$work/$name.msi" -s "Ferrolink Cleaner" Orvane "x64;1033" "$package_code"
for program in "${programs[@]}"; do
  msibuild "$work/$name.msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = '$program'"
done
set_msi_dates "$work/$name.msi"
if $signing; then signing_sign "$work" "$work/$name.msi"; fi

mkdir -p "$out"
rm -f "$out/$name.zip" "$out/$name.msi" "$out/SHA256SUMS"
cp "$work/$name.zip" "$work/$name.msi" "$out/"
(cd "$out" && sha256sum "$name.zip" "$name.msi" >SHA256SUMS)

echo "release $version from $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC') (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
echo "MSI: product code $product_code, package code $package_code (commit $commit)"
if $signing; then
  stamp="no time stamp"
  [ -z "${FL_SIGN_TIMESTAMP_URL:-}" ] || stamp="time stamp from $FL_SIGN_TIMESTAMP_URL"
  echo "signed: the programs and the MSI (Authenticode, SHA-256, $stamp), every signature verified"
  echo "  by $SIGNING_SUBJECT, certificate valid until $SIGNING_NOT_AFTER"
  signing_lapse_warning
else
  echo "UNSIGNED: neither the programs nor the MSI carry a signature (set FL_SIGN_CERT and FL_SIGN_KEY to sign)"
fi
echo "$out:"
(cd "$out" && for file in "$name.zip" "$name.msi" SHA256SUMS; do printf '  %-36s %9d bytes\n' "$file" "$(stat -c %s "$file")"; done)
echo "SHA256SUMS:"
sed 's/^/  /' "$out/SHA256SUMS"
