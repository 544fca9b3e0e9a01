#!/usr/bin/env bash
# Builds the three configurations: win32 (the product), win64 (what Wine
# runs here) and host (core, simulator and tests). BRANNOCH_WERROR=ON makes
# warnings errors.
set -euo pipefail
cd "$(dirname "$0")/.."
werror="${BRANNOCH_WERROR:-OFF}"
jobs="$(nproc)"

cmake --no-warn-unused-cli -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DBRANNOCH_WERROR="$werror" >/dev/null
cmake --build build/win32 -j "$jobs"
cmake --no-warn-unused-cli -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
  -DBRANNOCH_WERROR="$werror" >/dev/null
cmake --build build/win64 -j "$jobs"
cmake --no-warn-unused-cli -S . -B build/host -DBRANNOCH_WERROR="$werror" \
  -DBRANNOCH_WIN32_DIR="$PWD/build/win32" -DBRANNOCH_WIN64_DIR="$PWD/build/win64" >/dev/null
cmake --build build/host -j "$jobs"
