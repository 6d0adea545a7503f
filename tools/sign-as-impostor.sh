#!/usr/bin/env bash
# Signs a test program in place with a throw-away self-signed certificate
# that bears the same subject as the build's signing certificate: what anyone
# can make, and what must never pass for the build's signer.
#   usage: sign-as-impostor.sh SIGNING_CERT.pem FILE
set -euo pipefail
cert=$1 file=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
subject=$(openssl x509 -in "$cert" -noout -subject -nameopt compat | sed 's/^subject=//')
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "$subject" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -in "$file" -out "$work/signed" >/dev/null
mv "$work/signed" "$file"
