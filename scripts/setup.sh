#!/usr/bin/env bash
# Installs what a fresh Debian 12 lacks for building and testing Brannoch,
# skipping what is already present, in steps:
#  1. what the host build needs (compiler, CMake, GoogleTest, git);
#  2. what the Windows builds need (the mingw-w64 cross compilers);
#  3. what the tests and the x86_64 twin's scenarios need beside (Wine, an X
#     server, fonts, NSIS, the signing tools, pefile). A failure in steps 1
#     to 3 stops the script (non-zero status);
#  4. where the kernel runs 32-bit code, wine32 (i386 multiarch), so that the
#     i686 product itself runs under Wine. This step may fail (an archive out
#     of step between architectures): it then says why in one line, keeps
#     apt's output in build/wine32-setup.log, takes the i386 architecture away
#     again if it added it, and the twin runs the scenarios instead. The reason
#     is left in build/wine32-missing for the demo and the scenarios to name.
#     Each run tries again. BRANNOCH_NO_WINE32=1 skips this step on purpose.
# A failed `apt-get update` is tried once more, then the lists it did get are
# used. Lists fetched in the last half hour are not fetched again, unless the
# i386 architecture was just added.
#
#   scripts/setup.sh                    every step (steps 1 to 3 in one apt-get call)
#   scripts/setup.sh host|windows|tests one step (tests: steps 3 and 4), as
#                                       scripts/test.sh runs them, each beside other work
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
reason_file=build/wine32-missing
log=build/wine32-setup.log
updated_stamp=build/apt-lists-fetched

host_packages=(cmake make g++ pkg-config libgtest-dev googletest python3 git)
windows_packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
test_packages=(
  wine wine64 fonts-wine xvfb xauth locales-all fonts-wqy-microhei imagemagick
  nsis openssl osslsigncode python3-pefile
)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt_env=(env DEBIAN_FRONTEND=noninteractive)
updated=0
apt_update() {
  [ "$updated" -eq 0 ] || return 0
  updated=1
  if [ "${1:-}" != new-architecture ] && [ -n "$(find "$updated_stamp" -mmin -30 2>/dev/null)" ]; then
    return 0
  fi
  if "${sudo_cmd[@]}" apt-get update -qq >/dev/null 2>&1 || "${sudo_cmd[@]}" apt-get update -qq >/dev/null 2>&1; then
    touch "$updated_stamp"
  else
    echo "setup: apt-get update failed on some lists twice; going on with the lists it has"
  fi
}

# Steps 1 to 3: install_packages WHAT LOG PACKAGE... installs those missing in one apt-get call.
install_packages() {
  local what=$1 apt_log=$2 missing=() p
  shift 2
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: the packages $what are installed"
    return 0
  fi
  echo "setup: installing ${missing[*]}"
  apt_update
  if ! "${sudo_cmd[@]}" "${apt_env[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
      >"$apt_log" 2>&1; then
    grep '^E:' "$apt_log" | tail -n 1 || true
    echo "setup: FAILED to install the packages $what (apt's output: $apt_log)" >&2
    exit 1
  fi
}

# Step 4: wine32, on its own; it never removes anything and never stops the script.
wine32_step() {
  if [ "${BRANNOCH_NO_WINE32:-0}" = 1 ]; then
    echo "BRANNOCH_NO_WINE32=1 asked for no wine32" >"$reason_file"
    echo "setup: wine32 skipped (BRANNOCH_NO_WINE32=1)"
  elif ! scripts/runs32.sh; then
    echo "this kernel runs no 32-bit code" >"$reason_file"
    echo "setup: this kernel runs no 32-bit code; wine32 is not installed"
  elif installed wine32:i386; then
    rm -f "$reason_file"
  else
    echo "setup: installing wine32:i386"
    local added_i386=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386
      added_i386=1
      updated=0
    fi
    apt_update "$([ "$added_i386" -eq 0 ] || echo new-architecture)"
    if "${sudo_cmd[@]}" "${apt_env[@]}" apt-get install -y -qq --no-install-recommends --no-remove wine32:i386 \
        >"$log" 2>&1; then
      rm -f "$reason_file"
    else
      local last
      last="$(grep '^E:' "$log" | tail -n 1 || true)"
      echo "wine32 could not be installed: ${last:-apt-get failed}" >"$reason_file"
      echo "setup: $(cat "$reason_file") (apt's output: $log); the x86_64 twin runs the scenarios"
      if [ "$added_i386" -eq 1 ] && "${sudo_cmd[@]}" dpkg --remove-architecture i386 2>/dev/null; then
        echo "setup: the i386 architecture this run added is taken away again"
      fi
    fi
  fi
}

case "${1:-}" in
  "")
    install_packages "for the builds and tests" build/setup.log \
      "${host_packages[@]}" "${windows_packages[@]}" "${test_packages[@]}"
    wine32_step
    ;;
  host) install_packages "for the host build" build/setup.log "${host_packages[@]}" ;;
  windows) install_packages "for the Windows builds" build/setup-windows.log "${windows_packages[@]}" ;;
  tests)
    install_packages "for the tests" build/setup-tests.log "${test_packages[@]}"
    wine32_step
    ;;
  *)
    echo "usage: scripts/setup.sh [host|windows|tests]" >&2
    exit 2
    ;;
esac
exit 0
