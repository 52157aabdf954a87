# Authenticode signing of the release, sourced by scripts/release.sh and tools/release/package.sh.
# FL_SIGN_CERT: the certificate, PEM or DER, with its chain; FL_SIGN_KEY: its private key; optional
# FL_SIGN_KEY_PASS_FILE: a file whose first line is the key's password; optional FL_SIGN_TIMESTAMP_URL: an
# RFC 3161 time-stamp server. The caller defines die().
#
# signing_check WORK_DIR checks all of it before anything is built or written, sets SIGNING_SUBJECT and
# SIGNING_NOT_AFTER, and leaves in WORK_DIR the trust bundle that every signature is verified against afterwards
# (the given chain and the system's roots).

signing_requested() { [ -n "${FL_SIGN_CERT:-}${FL_SIGN_KEY:-}${FL_SIGN_KEY_PASS_FILE:-}" ]; }

signing_passin() {
  if [ -n "${FL_SIGN_KEY_PASS_FILE:-}" ]; then echo "file:$FL_SIGN_KEY_PASS_FILE"; else echo "pass:"; fi
}

# signing_split_certificates FILE DIR: every certificate of FILE (PEM with a chain, or one DER certificate) as
# DIR/cert-N.pem.
signing_split_certificates() {
  local file=$1 dir=$2
  if grep -q -e '-----BEGIN CERTIFICATE-----' "$file"; then
    awk -v dir="$dir" '
      /-----BEGIN CERTIFICATE-----/ { n++; inside = 1 }
      inside { print > (dir "/cert-" n ".pem") }
      /-----END CERTIFICATE-----/ { inside = 0 }' "$file"
  else
    openssl x509 -inform DER -in "$file" -out "$dir/cert-1.pem" 2>/dev/null
  fi
}

# signing_signer DIR: the certificate in DIR whose public key is the private key's, as osslsigncode picks it.
signing_signer() {
  local dir=$1 cert
  for cert in "$dir"/cert-*.pem; do
    [ -e "$cert" ] || continue
    if cmp -s <(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) "$dir/key.pub"; then
      echo "$cert"
      return 0
    fi
  done
  return 1
}

signing_check() {
  local work=$1 dir=$1/signing signer verdict roots=/etc/ssl/certs/ca-certificates.crt
  [ -n "${FL_SIGN_CERT:-}" ] && [ -n "${FL_SIGN_KEY:-}" ] || die "signing needs both FL_SIGN_CERT and FL_SIGN_KEY"
  [ -f "$FL_SIGN_CERT" ] && [ -r "$FL_SIGN_CERT" ] || die "FL_SIGN_CERT $FL_SIGN_CERT is not a readable file"
  [ -f "$FL_SIGN_KEY" ] && [ -r "$FL_SIGN_KEY" ] || die "FL_SIGN_KEY $FL_SIGN_KEY is not a readable file"
  [ -z "${FL_SIGN_KEY_PASS_FILE:-}" ] || { [ -f "$FL_SIGN_KEY_PASS_FILE" ] && [ -r "$FL_SIGN_KEY_PASS_FILE" ]; } ||
    die "FL_SIGN_KEY_PASS_FILE $FL_SIGN_KEY_PASS_FILE is not a readable file"
  mkdir -p "$dir"

  # "pass:" never prompts: an encrypted key without its password file fails here instead of asking.
  if ! openssl pkey -in "$FL_SIGN_KEY" -passin "$(signing_passin)" -pubout -out "$dir/key.pub" 2>/dev/null; then
    [ -z "${FL_SIGN_KEY_PASS_FILE:-}" ] ||
      die "FL_SIGN_KEY $FL_SIGN_KEY cannot be read with the password in FL_SIGN_KEY_PASS_FILE (wrong password?)"
    die "FL_SIGN_KEY $FL_SIGN_KEY cannot be read (not a private key, or encrypted: set FL_SIGN_KEY_PASS_FILE)"
  fi
  local cert
  signing_split_certificates "$FL_SIGN_CERT" "$dir" && compgen -G "$dir/cert-*.pem" >/dev/null ||
    die "FL_SIGN_CERT $FL_SIGN_CERT holds no certificate (PEM or DER)"
  for cert in "$dir"/cert-*.pem; do
    openssl x509 -in "$cert" -noout 2>/dev/null || die "FL_SIGN_CERT $FL_SIGN_CERT holds a damaged certificate"
  done
  signer=$(signing_signer "$dir") ||
    die "FL_SIGN_KEY $FL_SIGN_KEY does not match the certificate: no certificate in $FL_SIGN_CERT has its public key"
  SIGNING_SUBJECT=$(openssl x509 -in "$signer" -noout -subject | sed 's/^subject=//')
  SIGNING_NOT_AFTER=$(openssl x509 -in "$signer" -noout -enddate | sed 's/^notAfter=//')

  # Windows takes a certificate for code signing only with that extended key usage, and, where the certificate
  # limits its key's usage, with digital signatures among them.
  openssl x509 -in "$signer" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
    die "the certificate \"$SIGNING_SUBJECT\" does not allow code signing (no Code Signing extended key usage)"
  if openssl x509 -in "$signer" -noout -ext keyUsage 2>/dev/null | grep -q 'Key Usage'; then
    openssl x509 -in "$signer" -noout -ext keyUsage | grep -q 'Digital Signature' ||
      die "the certificate \"$SIGNING_SUBJECT\" does not allow code signing (its key usage lacks Digital Signature)"
  fi

  cat "$dir"/cert-*.pem >"$dir/chain.pem"
  cp "$dir/chain.pem" "$work/trust.pem"
  [ ! -r "$roots" ] || cat "$roots" >>"$work/trust.pem"
  verdict=$(openssl verify -CAfile "$work/trust.pem" -untrusted "$dir/chain.pem" "$signer" 2>&1) ||
    die "the certificate \"$SIGNING_SUBJECT\" does not verify against its chain and the system's roots:" \
      "$(grep -m1 '^error' <<<"$verdict")"
}

# signing_lapse_warning: without a time stamp, Windows accepts a signature only while its certificate is valid.
signing_lapse_warning() {
  [ -n "${FL_SIGN_TIMESTAMP_URL:-}" ] ||
    echo "release: WARNING: no time-stamp server (FL_SIGN_TIMESTAMP_URL): the signatures lapse when the" \
      "certificate expires ($SIGNING_NOT_AFTER); Windows then no longer accepts them"
}

# signing_sign WORK_DIR FILE: Authenticode, SHA-256, in place; then verified against the trust bundle.
signing_sign() {
  local work=$1 file=$2
  local args=(sign -h sha256 -comm -n "Ferrolink Cleaner" -certs "$FL_SIGN_CERT" -key "$FL_SIGN_KEY")
  case $file in *.msi) args+=(-add-msi-dse) ;; esac
  [ -z "${FL_SIGN_KEY_PASS_FILE:-}" ] || args+=(-readpass "$FL_SIGN_KEY_PASS_FILE")
  [ -z "${FL_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$FL_SIGN_TIMESTAMP_URL")
  osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >"$work/sign.log" 2>&1 ||
    die "signing $(basename "$file") failed: $(tail -n 3 "$work/sign.log")"
  mv "$file.signed" "$file"
  osslsigncode verify -CAfile "$work/trust.pem" -in "$file" >"$work/verify.log" 2>&1 ||
    die "the signature of $(basename "$file") does not verify: $(tail -n 5 "$work/verify.log")"
}
