#!/usr/bin/env bash
# Authenticode-signs one program or library in place, as the build's signing
# configuration says (written by CMake, see cmake/QuendalSigning.cmake):
#   certificate/key    sign with them (SHA-256), at the signing time given or
#                      through the timestamp server given; a key given as a
#                      PKCS#11 URI ("pkcs11:token=...;object=...") is used in
#                      its token, through the PKCS#11 module (and OpenSSL
#                      engine) given, the password file holding the PIN;
#   signatures         instead attach the signature kept for this file's name
#                      (a release's own, to rebuild that release byte for byte).
# A file that cannot be signed is removed, so that the build makes it again.
#   usage: sign.sh CONFIG FILE
set -euo pipefail
config=$1 file=$2
cert= key= pass_file= timestamp_url= signing_time= signatures= ca= description= url= pkcs11_module= pkcs11_engine=
while IFS='=' read -r name value; do
  case "$name" in
    cert) cert=$value;; key) key=$value;; pass_file) pass_file=$value;;
    timestamp_url) timestamp_url=$value;; signing_time) signing_time=$value;;
    signatures) signatures=$value;; ca) ca=$value;;
    description) description=$value;; url) url=$value;;
    pkcs11_module) pkcs11_module=$value;; pkcs11_engine) pkcs11_engine=$value;;
  esac
done < "$config"

out=$file.signing
trap 'rm -f "$out"' EXIT
fail() { echo "sign.sh: $*" >&2; rm -f "$file"; exit 1; }

if [ -n "$signatures" ]; then
  sig=$signatures/$(basename "$file").sig
  if [ ! -f "$sig" ]; then
    exit 0  # not part of the release being rebuilt
  fi
  ca_option=()
  [ -n "$ca" ] && ca_option=(-CAfile "$ca")
  # The digest must match (this must be the file the release signed); the
  # chain need not be trusted here: the whole installer is compared after.
  log=$(osslsigncode attach-signature "${ca_option[@]}" -sigin "$sig" -in "$file" -out "$out" 2>&1) || true
  if grep -q "MISMATCH" <<<"$log"; then
    fail "$(basename "$file") is not the file whose signature $sig is"
  fi
  [ -s "$out" ] || fail "cannot attach $sig to $file:"$'\n'"$log"
else
  [ -n "$cert" ] && [ -n "$key" ] || fail "no certificate and key in $config"
  args=(sign)
  case "$key" in
    pkcs11:*)
      [ -n "$pkcs11_module" ] || fail "the key $key is in a token: no PKCS#11 module in $config"
      [ -n "$pkcs11_engine" ] && args+=(-pkcs11engine "$pkcs11_engine")
      args+=(-pkcs11module "$pkcs11_module");;
  esac
  args+=(-certs "$cert" -key "$key" -h sha256 -n "$description" -i "$url" -in "$file" -out "$out")
  [ -n "$pass_file" ] && args+=(-readpass "$pass_file")
  if [ -n "$timestamp_url" ]; then
    args+=(-ts "$timestamp_url")
  elif [ -n "$signing_time" ]; then
    args+=(-time "$signing_time")
  fi
  log=$(osslsigncode "${args[@]}" 2>&1) || fail "cannot sign $file:"$'\n'"$log"
fi
mv -f "$out" "$file"
