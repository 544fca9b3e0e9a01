#!/usr/bin/env bash
# Builds the three configurations: win32 (the product), win64 (what Wine
# runs here) and host (the simulator's probe table and the CTest entries for
# the checks on the two Windows builds; the GoogleTest suite is built where
# it runs, under the sanitizers: see scripts/test.sh). BRANNOCH_WERROR=ON
# makes warnings errors.
#
#   scripts/build.sh [win32] [win64] [host]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
werror="${BRANNOCH_WERROR:-OFF}"
jobs="$(nproc)"
[ $# -gt 0 ] || set -- win32 win64 host

windows() {
  local arch=i686
  [ "$1" = win32 ] || arch=x86_64
  cmake --no-warn-unused-cli -S . -B "build/$1" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DBRANNOCH_WERROR="$werror" >/dev/null
  cmake --build "build/$1" -j "$jobs"
}

host=0
windows_builds=()
for config in "$@"; do
  case "$config" in
    win32 | win64) windows_builds+=("$config") ;;
    host) host=1 ;;
    *)
      echo "usage: scripts/build.sh [win32] [win64] [host]" >&2
      exit 2
      ;;
  esac
done

# The Windows builds side by side: each has stretches that keep one
# processor busy (configuration, the precompiled header, the links). Each
# one's output is shown when both have ended.
mkdir -p build
pids=()
for config in "${windows_builds[@]}"; do
  windows "$config" >"build/$config-build.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed=1
  cat "build/${windows_builds[$i]}-build.log"
done
[ "$failed" -eq 0 ] || exit 1

if [ "$host" -eq 1 ]; then
  # Which Wine settings the scenarios run in is decided here, from what is
  # installed: scripts/test.sh configures it only after wine32's setup.
  cmake --no-warn-unused-cli -S . -B build/host -DBRANNOCH_WERROR="$werror" -DBRANNOCH_UNIT_TESTS=OFF \
    -DBRANNOCH_WIN32_DIR="$PWD/build/win32" -DBRANNOCH_WIN64_DIR="$PWD/build/win64" >/dev/null
  cmake --build build/host -j "$jobs"
fi
