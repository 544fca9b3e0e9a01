#!/usr/bin/env bash
# Builds the three configurations: win32 (the product), win64 (what Wine
# runs here) and host (the simulator's probe table and the CTest entries for
# the checks on the two Windows builds; the GoogleTest suite is built where
# it runs, under the sanitizers: see scripts/test.sh). BRANNOCH_WERROR=ON
# makes warnings errors.
#
#   scripts/build.sh [win32] [win64] [host]   (default: all three, in this order)
set -euo pipefail
cd "$(dirname "$0")/.."
werror="${BRANNOCH_WERROR:-OFF}"
jobs="$(nproc)"
[ $# -gt 0 ] || set -- win32 win64 host

for config in "$@"; do
  case "$config" in
    win32 | win64)
      arch=i686
      [ "$config" = win32 ] || arch=x86_64
      cmake --no-warn-unused-cli -S . -B "build/$config" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch-w64-mingw32.cmake" \
        -DBRANNOCH_WERROR="$werror" >/dev/null
      ;;
    host)
      # Which Wine settings the scenarios run in is decided here: wine32 must be
      # installed (or known missing) first.
      cmake --no-warn-unused-cli -S . -B build/host -DBRANNOCH_WERROR="$werror" -DBRANNOCH_UNIT_TESTS=OFF \
        -DBRANNOCH_WIN32_DIR="$PWD/build/win32" -DBRANNOCH_WIN64_DIR="$PWD/build/win64" >/dev/null
      ;;
    *)
      echo "usage: scripts/build.sh [win32] [win64] [host]" >&2
      exit 2
      ;;
  esac
  cmake --build "build/$config" -j "$jobs"
done
