#!/usr/bin/env bash
# Makes a throwaway code-signing certificate for trying the signed release, in directory $1 (which
# must exist; nothing of it is meant to be kept): a certificate authority of its own (ca.pem), and
# the signer's certificate and key in a PKCS#12 file (signer.p12) whose random password is in
# signer.pass. Both certificates are valid for two days from now. Prints the signer's subject as
# Windows writes it, the text `check_pe.py --signer` and VX_SIGN_SUBJECT expect.
#
#   scripts/throwaway-certificate.sh DIR
set -euo pipefail
dir="$1"
umask 077
cat >"$dir/extensions.cnf" <<'CNF'
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/O=Norvane/CN=Throwaway release authority" \
  -config "$dir/extensions.cnf" -extensions authority -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
openssl req -new -newkey rsa:3072 -nodes -subj "/O=Norvane/CN=Quorvant release signing (throwaway)" \
  -keyout "$dir/signer.key" -out "$dir/signer.csr" 2>/dev/null
openssl x509 -req -days 2 -in "$dir/signer.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
  -extfile "$dir/extensions.cnf" -extensions signer -out "$dir/signer.pem" 2>/dev/null
openssl rand -base64 24 >"$dir/signer.pass"
openssl pkcs12 -export -inkey "$dir/signer.key" -in "$dir/signer.pem" -passout "file:$dir/signer.pass" \
  -out "$dir/signer.p12"
rm -f "$dir/ca.key" "$dir/signer.key" "$dir/signer.csr"
echo "CN=Quorvant release signing (throwaway), O=Norvane"
