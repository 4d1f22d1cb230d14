#!/bin/sh
# Re-creates the S/MIME test PKI in this folder with the openssl command:
#   root CA -> intermediate CA -> end-entity certificates.
# Validity windows are fixed dates spanning decades (2020..2099), so no test depends on the day
# it runs; the one expired certificate ended in 2002. Serial numbers, subjects and extensions are
# fixed; keys are fresh on every run (tests read whatever the folder holds).
#
# Files: ca-root.pem, ca-inter.pem, and per end entity NAME: NAME.pem (certificate), NAME.key
# (unencrypted PKCS#8 key), NAME.p12. alice-rsa.p12 is protected by the password "alice-pass";
# every other .p12 has an empty password.
set -eu
cd "$(dirname "$0")"
rm -f ./*.pem ./*.key ./*.p12 ./*.der
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=20200101000000Z
end=20991231235959Z

ext() { # name, body
    printf '%s\n' "$2" >"$work/$1.ext"
}
ext ca "basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid"
ext smime "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment,nonRepudiation
extendedKeyUsage=emailProtection
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid"
ext smime-ec "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyAgreement,nonRepudiation
extendedKeyUsage=emailProtection
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid"
ext client "basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=clientAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid"

newkey() { # name, rsa|ec
    if [ "$2" = rsa ]; then
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null
    else
        openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"
    fi
}

# sign name, issuer-name, subject, extensions, serial, start, end [, san]
sign() {
    cfg=$work/$1.cnf
    mkdir -p "$work/db-$1"
    : >"$work/db-$1/index.txt"
    printf '%s\n' "$5" >"$work/db-$1/serial"
    cat >"$cfg" <<CNF
[ca]
default_ca = c
[c]
database = $work/db-$1/index.txt
serial = $work/db-$1/serial
new_certs_dir = $work/db-$1
policy = p
default_md = sha256
unique_subject = no
copy_extensions = none
[p]
commonName = supplied
emailAddress = optional
organizationName = optional
[req]
distinguished_name = dn
prompt = no
[dn]
CNF
    extfile=$work/$4.ext
    if [ $# -ge 8 ]; then
        cp "$extfile" "$work/$1-x.ext"
        printf 'subjectAltName=%s\n' "$8" >>"$work/$1-x.ext"
        extfile=$work/$1-x.ext
    fi
    openssl req -new -key "$1.key" -subj "$3" -out "$work/$1.csr" -config "$cfg"
    if [ "$2" = self ]; then
        issuerArgs="-selfsign -keyfile $1.key"
    else
        issuerArgs="-cert $2.pem -keyfile $2.key"
    fi
    # shellcheck disable=SC2086
    openssl ca -batch -config "$cfg" $issuerArgs -in "$work/$1.csr" -out "$work/$1.crt" \
        -startdate "$6" -enddate "$7" -extfile "$extfile" -notext 2>/dev/null
    openssl x509 -in "$work/$1.crt" -out "$1.pem"
}

newkey ca-root rsa
sign ca-root self "/O=Norvane Test/CN=Norvane Test Root CA" ca 1000 "$start" "$end"
newkey ca-inter rsa
sign ca-inter ca-root "/O=Norvane Test/CN=Norvane Test Intermediate CA" ca 1001 "$start" "$end"

entity() { # name, rsa|ec, address, ext, serial, start, end
    newkey "$1" "$2"
    sign "$1" ca-inter "/O=Norvane Test/CN=$1/emailAddress=$3" "$4" "$5" "$6" "$7" "email:$3"
}
entity alice-rsa rsa alice@example.com smime 2001 "$start" "$end"
entity alice-ec ec alice@example.com smime-ec 2002 "$start" "$end"
entity bob-rsa rsa bob@example.com smime 2003 "$start" "$end"
entity bob-ec ec bob@example.com smime-ec 2004 "$start" "$end"
entity jimbob rsa jimbob@example.com smime 2005 "$start" "$end"
entity carol-expired rsa carol@example.com smime 2006 20010101000000Z 20020101000000Z
entity carol rsa carol@example.com smime 2007 "$start" "$end"
entity dave-noemail rsa dave@example.com client 2008 "$start" "$end"
rm -f ca-root.key.unused

for n in alice-ec bob-rsa bob-ec jimbob carol-expired carol dave-noemail; do
    openssl pkcs12 -export -in "$n.pem" -inkey "$n.key" -certfile ca-inter.pem \
        -name "$n" -passout pass: -out "$n.p12"
done
openssl pkcs12 -export -in alice-rsa.pem -inkey alice-rsa.key -certfile ca-inter.pem \
    -name alice-rsa -passout pass:alice-pass -out alice-rsa.p12
openssl x509 -in bob-rsa.pem -outform DER -out bob-rsa.der
echo "test PKI written to $(pwd)"
