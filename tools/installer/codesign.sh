#!/bin/sh
# Signs a Windows program in place with Authenticode (Debian's osslsigncode),
# for the `installer` target and makensis's finalize commands:
#
#   codesign.sh --name NAME --cert CERTIFICATE [--key KEY]
#               [--password-file FILE] [--timestamp URL] FILE
#
# NAME is the description Windows shows for the signed program (the game's).
# CERTIFICATE is a PEM file with the signing certificate and its chain, and
# KEY its PEM private key; or CERTIFICATE is a PKCS#12 file (.p12, .pfx)
# holding both. The password file holds the key's password; the time-stamp
# URL names an RFC 3161 server, so that the signature stays valid after the
# certificate expires. The file is replaced only by a complete signed copy.
set -eu
name="" certificate="" key="" password_file="" timestamp=""
while [ $# -gt 1 ]; do
  case "$1" in
    --name) name=$2 ;;
    --cert) certificate=$2 ;;
    --key) key=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp) timestamp=$2 ;;
    *) echo "codesign.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ $# -ne 1 ] || [ -z "$certificate" ]; then
  echo "usage: codesign.sh --name NAME --cert CERTIFICATE [--key KEY] [--password-file FILE] [--timestamp URL] FILE" >&2
  exit 2
fi
file=$1

set -- sign -h sha256 -n "$name"
case "$certificate" in
  *.p12 | *.pfx | *.P12 | *.PFX) set -- "$@" -pkcs12 "$certificate" ;;
  *) set -- "$@" -certs "$certificate" -key "$key" ;;
esac
if [ -n "$password_file" ]; then set -- "$@" -readpass "$password_file"; fi
if [ -n "$timestamp" ]; then set -- "$@" -ts "$timestamp"; fi

signed="$file.signed"
rm -f "$signed"
if ! osslsigncode "$@" -in "$file" -out "$signed" >/dev/null; then
  rm -f "$signed"
  echo "codesign.sh: could not sign $file" >&2
  exit 1
fi
mv -f "$signed" "$file"
