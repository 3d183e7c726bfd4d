#!/usr/bin/env bash
# Signs files in place with Authenticode (osslsigncode), SHA-256, when
# QUILLMARSH_SIGN_PFX names a PKCS#12 file with the code-signing certificate
# and its key:
#
#   QUILLMARSH_SIGN_PFX        the .pfx file; unset or empty: nothing is signed
#   QUILLMARSH_SIGN_PASSWORD   its password, if it has one (handed over
#                              through a pipe, never on a command line)
#   QUILLMARSH_SIGN_TIMESTAMP  an RFC 3161 timestamp server, for instance
#                              http://timestamp.digicert.com; none is asked
#                              unless one is named
#
# Usage: packaging/sign.sh FILE...  (an .exe or an .msi). A failure leaves the
# file as it was and exits non-zero.
set -euo pipefail

if [[ -z "${QUILLMARSH_SIGN_PFX:-}" ]]; then
  exit 0
fi
if [[ ! -f "$QUILLMARSH_SIGN_PFX" ]]; then
  echo "sign.sh: QUILLMARSH_SIGN_PFX names no file: $QUILLMARSH_SIGN_PFX" >&2
  exit 1
fi

options=(-pkcs12 "$QUILLMARSH_SIGN_PFX" -h sha256 -n quillmarsh)
if [[ -n "${QUILLMARSH_SIGN_TIMESTAMP:-}" ]]; then
  options+=(-ts "$QUILLMARSH_SIGN_TIMESTAMP")
fi
# The password goes through standard input (printf is a shell built-in).
if [[ -n "${QUILLMARSH_SIGN_PASSWORD:-}" ]]; then
  password=(-readpass -)
else
  password=(-pass "")
fi

for file in "$@"; do
  signed="$file.signing"
  rm -f "$signed"
  if ! printf '%s' "${QUILLMARSH_SIGN_PASSWORD:-}" |
    osslsigncode sign "${options[@]}" "${password[@]}" -in "$file" -out "$signed" \
      >"$signed.log" 2>&1; then
    cat "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    echo "sign.sh: could not sign $file" >&2
    exit 1
  fi
  rm -f "$signed.log"
  mv "$signed" "$file"
  echo "Signed $file"
done
