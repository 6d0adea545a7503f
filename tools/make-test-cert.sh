#!/usr/bin/env bash
# Makes a throw-away code-signing certificate for builds without a release
# certificate: a test CA and a signing certificate it issued, both RSA (whose
# signatures are deterministic, so a signed build can be reproduced). Never
# trusted anywhere but in the build's own verification.
#   usage: make-test-cert.sh DIR    (makes DIR/ca.pem, DIR/signing.pem, DIR/signing.key)
set -euo pipefail
dir=$1
if [ -f "$dir/ca.pem" ] && [ -f "$dir/signing.pem" ] && [ -f "$dir/signing.key" ]; then
  exit 0
fi
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/ca.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = ca
[dn]
CN = Korvane Quendal Test CA (not for release)
O = Korvane
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
cat > "$work/signing.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Korvane Quendal Test Signing (not for release)
O = Korvane
[signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -config "$work/ca.cnf" \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -sha256 -config "$work/signing.cnf" \
  -keyout "$work/signing.key" -out "$work/signing.csr" 2>/dev/null
openssl x509 -req -in "$work/signing.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -days 3650 -sha256 -extfile "$work/signing.cnf" -extensions signing -out "$work/signing.pem" 2>/dev/null
# The CA's key is not kept: nothing else can be issued under this CA.
cp "$work/ca.pem" "$work/signing.pem" "$work/signing.key" "$dir/"
echo "Made a throw-away test signing certificate in $dir"
