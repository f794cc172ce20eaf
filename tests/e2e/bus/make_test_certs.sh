#!/usr/bin/env bash
# Makes the certificates of the TLS tests at build time (EC P-256,
# unencrypted keys, "<name>.pem" and "<name>.key" in DIR): a CA and an
# unrelated one, the broker's for 127.0.0.1 and localhost (valid, and
# expired), one for another name, a client's of the CA, one of the other CA.
# The valid ones last ten years; the expired one ends a day before it begins
# (the build time), so it never becomes valid.
#   make_test_certs.sh OPENSSL DIR
set -euo pipefail
openssl=$1 dir=$2
mkdir -p "$dir"
cd "$dir"
run() { "$openssl" "$@" 2>openssl.err || { cat openssl.err >&2; exit 1; }; }
# name|CN|CA|days|subject alternative names (a CA signs itself)
while IFS='|' read -r name cn ca days names; do
  if [ "$ca" = - ]; then
    run req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$cn" \
      -keyout "$name.key" -out "$name.pem" -days "$days"
  else
    run req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$cn" \
      -keyout "$name.key" -out "$name.csr"
    echo "subjectAltName=$names" > "$name.ext"
    run x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -days "$days" \
      -extfile "$name.ext" -out "$name.pem"
  fi
done <<'LIST'
ca|Test ca|-|3650|
other-ca|Test other-ca|-|3650|
server|broker.test|ca|3650|IP:127.0.0.1,DNS:localhost
expired|broker.old|ca|-1|IP:127.0.0.1,DNS:localhost
elsewhere|broker.elsewhere|ca|3650|DNS:broker.elsewhere.example
client|station1|ca|3650|DNS:station1
stranger|intruder|other-ca|3650|DNS:intruder
LIST
rm -f ./*.csr ./*.ext ./*.srl openssl.err
