#!/usr/bin/env bash
# The release: builds the 32-bit Brannoch.exe from the committed tree (HEAD,
# never the working tree) into dist/ with its SHA256SUMS. The same commit
# gives the same bytes in any folder, at any time, for any user or umask.
#
#   scripts/release.sh [DIST_DIR]        (default dist/)
#
# Signing (Authenticode, SHA-256, with osslsigncode), when asked for:
#   BRANNOCH_SIGN_CERT, BRANNOCH_SIGN_KEY  PEM files: certificate (with its chain) and private key
#   BRANNOCH_SIGN_PKCS12                   or one PKCS#12 file instead of the two
#   BRANNOCH_SIGN_PASS_FILE                a file holding the key's password, if it has one
#   BRANNOCH_SIGN_NAME, BRANNOCH_SIGN_URL  publisher name and web address shown in the signature
#   BRANNOCH_TIMESTAMP_URL                 an RFC 3161 time-stamp server; none unless set
# Without a certificate the exe is left unsigned and the script says so. A
# signing run that fails leaves no dist/Brannoch.exe at all.
#
# BRANNOCH_RELEASE_BUILD_DIR: build in this folder, and keep it, instead of a
# temporary one; a later run of the same commit with the same folder then
# compiles nothing again (the release checks use it for a run that has only
# to fail at signing). A folder holding another commit's build is emptied first.
set -euo pipefail
cd "$(dirname "$0")/.."
dist="$(realpath -m "${1:-dist}")"
umask 022
export LC_ALL=C TZ=UTC

fail() {
  echo "release: FAILED: $*" >&2
  exit 1
}

commit="$(git rev-parse --verify HEAD)"
if ! git diff --quiet HEAD --; then
  echo "release: uncommitted changes are not part of the release; building $commit" >&2
fi
# The link time stamp in the PE header: the commit's time, not the build's.
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct "$commit")"
export SOURCE_DATE_EPOCH

# Nothing left from an earlier run may pass for this run's result.
mkdir -p "$dist"
rm -f "$dist/Brannoch.exe" "$dist/SHA256SUMS" "$dist/.Brannoch.exe.part"

# Signing material is checked before the build, so a wrong key fails at once.
sign=()
if [ -n "${BRANNOCH_SIGN_PKCS12:-}" ]; then
  [ -r "$BRANNOCH_SIGN_PKCS12" ] || fail "BRANNOCH_SIGN_PKCS12: cannot read $BRANNOCH_SIGN_PKCS12"
  sign=(-pkcs12 "$BRANNOCH_SIGN_PKCS12")
elif [ -n "${BRANNOCH_SIGN_CERT:-}${BRANNOCH_SIGN_KEY:-}" ]; then
  [ -n "${BRANNOCH_SIGN_CERT:-}" ] && [ -n "${BRANNOCH_SIGN_KEY:-}" ] ||
    fail "BRANNOCH_SIGN_CERT and BRANNOCH_SIGN_KEY are needed together"
  [ -r "$BRANNOCH_SIGN_CERT" ] || fail "BRANNOCH_SIGN_CERT: cannot read $BRANNOCH_SIGN_CERT"
  [ -r "$BRANNOCH_SIGN_KEY" ] || fail "BRANNOCH_SIGN_KEY: cannot read $BRANNOCH_SIGN_KEY"
  pass=()
  [ -z "${BRANNOCH_SIGN_PASS_FILE:-}" ] || pass=(-passin "file:$BRANNOCH_SIGN_PASS_FILE")
  cert_pub="$(openssl x509 -in "$BRANNOCH_SIGN_CERT" -noout -pubkey 2>/dev/null)" ||
    fail "BRANNOCH_SIGN_CERT: not a PEM certificate"
  key_pub="$(openssl pkey -in "$BRANNOCH_SIGN_KEY" "${pass[@]}" -pubout 2>/dev/null)" ||
    fail "BRANNOCH_SIGN_KEY: not a readable PEM private key"
  [ "$cert_pub" = "$key_pub" ] || fail "BRANNOCH_SIGN_KEY does not belong to the first certificate in BRANNOCH_SIGN_CERT"
  sign=(-certs "$BRANNOCH_SIGN_CERT" -key "$BRANNOCH_SIGN_KEY")
fi
if [ ${#sign[@]} -gt 0 ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh)"
  [ -z "${BRANNOCH_SIGN_PASS_FILE:-}" ] || sign+=(-readpass "$BRANNOCH_SIGN_PASS_FILE")
  sign+=(-h sha256 -n "${BRANNOCH_SIGN_NAME:-Brannoch}")
  [ -z "${BRANNOCH_SIGN_URL:-}" ] || sign+=(-i "$BRANNOCH_SIGN_URL")
  [ -z "${BRANNOCH_TIMESTAMP_URL:-}" ] || sign+=(-ts "$BRANNOCH_TIMESTAMP_URL")
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/brannoch-release.XXXXXX")"
trap 'rm -rf "$work"' EXIT
tree="$work" # the sources (src) and their build (build)
if [ -n "${BRANNOCH_RELEASE_BUILD_DIR:-}" ]; then
  tree="$(realpath -m "$BRANNOCH_RELEASE_BUILD_DIR")"
  [ "$(cat "$tree/commit" 2>/dev/null)" = "$commit" ] || rm -rf "$tree"
fi
mkdir -p "$tree/src"
# The archive gives every file the commit's time, so a kept build stays newer than its sources.
git archive --format=tar "$commit" | tar -x -C "$tree/src"
if ! { cmake --no-warn-unused-cli -S "$tree/src" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_TOOLCHAIN_FILE="$tree/src/cmake/toolchain-i686-w64-mingw32.cmake" -DBRANNOCH_WERROR=ON &&
       cmake --build "$tree/build" --target Brannoch -j 2; } >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  fail "the build of $commit"
fi
echo "$commit" >"$tree/commit"
unsigned="$tree/build/app/Brannoch.exe"
unsigned_sum="$(sha256sum "$unsigned" | cut -d' ' -f1)"

if [ ${#sign[@]} -gt 0 ]; then
  osslsigncode sign "${sign[@]}" -in "$unsigned" -out "$work/signed.exe" >"$work/sign.log" 2>&1 || {
    cat "$work/sign.log" >&2
    fail "signing; $dist holds no Brannoch.exe"
  }
  # The signature adds bytes and nothing else: without it the exe is the build.
  osslsigncode remove-signature -in "$work/signed.exe" -out "$work/stripped.exe" >/dev/null 2>&1 &&
    cmp -s "$work/stripped.exe" "$unsigned" || fail "the signed exe is not the build plus a signature"
  signed_sum="$(sha256sum "$work/signed.exe" | cut -d' ' -f1)"
  cp "$work/signed.exe" "$dist/.Brannoch.exe.part"
  printf '%s  Brannoch.exe\n%s  Brannoch-unsigned.exe\n' "$signed_sum" "$unsigned_sum" >"$dist/SHA256SUMS"
  mv "$dist/.Brannoch.exe.part" "$dist/Brannoch.exe"
  echo "release: $commit, signed by \"$(osslsigncode verify -in "$dist/Brannoch.exe" 2>/dev/null |
    sed -n 's/^[[:space:]]*Subject: //p' | head -1)\""
  echo "SHA-256 signed   $signed_sum  $dist/Brannoch.exe"
  echo "SHA-256 unsigned $unsigned_sum  (the build; scripts/release.sh without a certificate gives these bytes)"
else
  cp "$unsigned" "$dist/.Brannoch.exe.part"
  printf '%s  Brannoch.exe\n' "$unsigned_sum" >"$dist/SHA256SUMS"
  mv "$dist/.Brannoch.exe.part" "$dist/Brannoch.exe"
  echo "release: $commit, UNSIGNED (set BRANNOCH_SIGN_CERT and BRANNOCH_SIGN_KEY to sign)"
  echo "SHA-256 unsigned $unsigned_sum  $dist/Brannoch.exe"
fi
