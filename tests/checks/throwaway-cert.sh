#!/usr/bin/env bash
# Makes a throwaway self-signed code-signing certificate in DIR: cert.p12
# (with its key) locked by the password in DIR/password, cert.pem to verify
# against, and DIR/wrong, a password that does not open it.
#   throwaway-cert.sh DIR
set -euo pipefail
key=$1
mkdir -p "$key"
printf 'throwaway-%s\n' "$RANDOM$RANDOM" >"$key/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ambrelix test signing" \
    -keyout "$key/key.pem" -out "$key/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -passout "file:$key/password" -out "$key/cert.p12"
echo wrong >"$key/wrong"
