#!/bin/bash
# The certificates of the FTP over TLS tests, made with the openssl command
# alone (ECDSA P-256, so that the whole set takes a fraction of a second):
#
#   make_test_certs.sh DIR IP...
#
# Every IP is an IPv4 or IPv6 address the tests serve on. Written into DIR:
#
#   ca.pem                 the test root (CA:TRUE): what a trust file holds
#   inter.pem              an intermediate issued by the root (pathlen 0)
#   server.key             the one key of every server certificate below
#   server-chain.pem       leaf issued by the intermediate, then the
#                          intermediate; SAN DNS:localhost and IP:<each IP>
#   expired-chain.pem      the same names, valid 2020-01-01 .. 2021-01-01
#   other.pem              leaf for DNS:other.example only (and
#   other-chain.pem          with the intermediate behind it)
#   dnsip-chain.pem        the digits of each IP as DNS names only (no IP
#                          address): an address must not match them
#   selfsigned.pem         self-signed leaf (CA:FALSE) with the server's names
#   other-root.pem         a second root that issued nothing here
#
# The CA's configuration, database and serial live in DIR/ca; nothing outside
# DIR is read or written (OPENSSL_CONF points at that configuration).
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 DIR IP..." >&2
  exit 2
fi
DIR=$1
shift
mkdir -p "$DIR/ca/newcerts"
DIR=$(cd "$DIR" && pwd)
CA="$DIR/ca"
: >"$CA/index.txt"
echo 1000 >"$CA/serial"

SERVER_SAN="DNS:localhost"
DNSIP_SAN=""
for ip in "$@"; do
  SERVER_SAN="$SERVER_SAN,IP:$ip"
  DNSIP_SAN="${DNSIP_SAN:+$DNSIP_SAN,}DNS:$ip"
done

cat >"$CA/openssl.cnf" <<EOF
HOME = $CA
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = $CA
database = \$dir/index.txt
new_certs_dir = \$dir/newcerts
serial = \$dir/serial
default_md = sha256
default_days = 3650
policy = policy_any
unique_subject = no
copy_extensions = none
email_in_dn = no
[ policy_any ]
commonName = supplied
organizationName = optional
[ req ]
distinguished_name = req_dn
prompt = no
[ req_dn ]
CN = unused
[ v3_root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_inter ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[ v3_leaf ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
subjectAltName = \$ENV::SAN
[ v3_self ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
subjectAltName = \$ENV::SAN
EOF
export OPENSSL_CONF="$CA/openssl.cnf"
unset RANDFILE SSL_CERT_FILE SSL_CERT_DIR
export SAN="$SERVER_SAN"

key() {  # key FILE
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"
  chmod 600 "$1"
}

root() {  # root NAME CN
  key "$CA/$1.key"
  openssl req -new -x509 -key "$CA/$1.key" -subj "/O=zorvexrun tests/CN=$2" \
    -days 3650 -sha256 -extensions v3_root -out "$DIR/$1.pem"
}

# issue NAME CN KEY ISSUER EXTENSIONS [openssl ca options...]
issue() {
  local name=$1 cn=$2 key=$3 issuer=$4 ext=$5
  shift 5
  openssl req -new -key "$key" -subj "/O=zorvexrun tests/CN=$cn" \
    -out "$CA/$name.csr"
  openssl ca -batch -notext -in "$CA/$name.csr" -out "$DIR/$name.pem" \
    -cert "$DIR/$issuer.pem" -keyfile "$CA/$issuer.key" -extensions "$ext" \
    "$@" 2>"$CA/$name.log" || { cat "$CA/$name.log" >&2; exit 1; }
}

root ca "zorvexrun Test Root CA"
root other-root "zorvexrun Unrelated Root CA"
key "$CA/inter.key"
issue inter "zorvexrun Test Intermediate CA" "$CA/inter.key" ca v3_inter
key "$DIR/server.key"
issue server localhost "$DIR/server.key" inter v3_leaf
issue expired localhost "$DIR/server.key" inter v3_leaf \
  -startdate 20200101000000Z -enddate 20210101000000Z
SAN="DNS:other.example" issue other other.example "$DIR/server.key" inter \
  v3_leaf
SAN="$DNSIP_SAN" issue dnsip "$1" "$DIR/server.key" inter v3_leaf
openssl req -new -x509 -key "$DIR/server.key" -days 3650 -sha256 \
  -subj "/O=zorvexrun tests/CN=localhost" -extensions v3_self \
  -out "$DIR/selfsigned.pem"

for name in server expired other dnsip; do
  cat "$DIR/$name.pem" "$DIR/inter.pem" >"$DIR/$name-chain.pem"
done
