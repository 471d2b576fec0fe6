#!/usr/bin/env bash
# Signs Windows images in place with Authenticode (SHA-256), as the build's last step before packing.
#
#   sign-images.sh --osslsigncode PATH (--pkcs12 FILE | --certs PEM --key PEM |
#                  --pkcs11-module SO --pkcs11-key ID --pkcs11-cert PEM-or-ID) IMAGE...
#
# Secrets come from the environment only, never from the command line (where ps would show them):
# KVX_SIGN_PKCS12_PASSWORD, KVX_SIGN_PKCS11_PIN. KVX_SIGN_TIMESTAMP_URL names an RFC 3161 server; without
# it the signature carries no time stamp (it then stops being valid when the certificate expires), and
# that is said on every run.
set -euo pipefail

tool=osslsigncode
material=()
secret=
images=()
while [ $# -gt 0 ]; do
  case $1 in
    --osslsigncode) tool=$2; shift 2 ;;
    --pkcs12) material+=(-pkcs12 "$2"); secret=${KVX_SIGN_PKCS12_PASSWORD:-}; shift 2 ;;
    --certs) material+=(-certs "$2"); shift 2 ;;
    --key) material+=(-key "$2"); shift 2 ;;
    --pkcs11-module) material+=(-pkcs11module "$2"); secret=${KVX_SIGN_PKCS11_PIN:-}; shift 2 ;;
    --pkcs11-key) material+=(-key "$2"); shift 2 ;;
    --pkcs11-cert)
      if [ -f "$2" ]; then material+=(-certs "$2"); else material+=(-pkcs11cert "$2"); fi
      shift 2 ;;
    -*) echo "sign-images: unknown option $1" >&2; exit 64 ;;
    *) images+=("$1"); shift ;;
  esac
done
[ ${#material[@]} -gt 0 ] && [ ${#images[@]} -gt 0 ] || { echo "sign-images: nothing to sign with or nothing to sign" >&2; exit 64; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
secret_args=()
if [ -n "$secret" ]; then
  # A file only this user can read, removed on exit; osslsigncode reads the secret from it.
  (umask 077 && printf '%s' "$secret" >"$work/secret")
  secret_args=(-readpass "$work/secret")
fi
stamp_args=()
if [ -n "${KVX_SIGN_TIMESTAMP_URL:-}" ]; then
  stamp_args=(-ts "$KVX_SIGN_TIMESTAMP_URL")
else
  echo "sign-images: KVX_SIGN_TIMESTAMP_URL is not set: the signatures are not time-stamped"
fi

for image in "${images[@]}"; do
  signed=$work/$(basename "$image")
  if ! "$tool" sign "${material[@]}" "${secret_args[@]}" "${stamp_args[@]}" -h sha256 -n "KVXDiag2" \
      -in "$image" -out "$signed" >"$work/log" 2>&1; then
    echo "sign-images: signing $image failed:" >&2
    cat "$work/log" >&2
    exit 1
  fi
  mv -f "$signed" "$image"
  echo "sign-images: signed $(basename "$image") (SHA-256${stamp_args:+, time-stamped by $KVX_SIGN_TIMESTAMP_URL})"
done
