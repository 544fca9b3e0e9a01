#!/usr/bin/env bash
# Everything on a fresh machine: installs what is missing, builds the three
# configurations, runs the host tests, the resource checks, the release checks
# and the Wine scenarios (CTest), and the host tests again under ASan and
# UBSan. The Wine scenarios mostly wait (on Wine's start, on the uninstallers
# they run), so they run side by side, and the sanitizer build and its tests
# run beside them on what they leave of the processors; the scenarios that
# measure how fast the dialog answers ("timed") run last, alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

mkdir -p build
sanitize_log="$PWD/build/sanitize.log"
(
  cmake -S . -B build/sanitize -DBRANNOCH_SANITIZE=ON -DBRANNOCH_WERROR="${BRANNOCH_WERROR:-OFF}" \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build/sanitize -j "$(nproc)"
  cd build/sanitize && ctest --output-on-failure -j "$(nproc)" -LE 'wine|resources'
) >"$sanitize_log" 2>&1 &
sanitize=$!

status=0
(cd build/host && ctest --output-on-failure -j 4 -LE timed) || status=1
if wait "$sanitize"; then
  tail -n 3 "$sanitize_log"
else
  cat "$sanitize_log"
  echo "the host tests under the sanitizers FAILED"
  status=1
fi
(cd build/host && ctest --output-on-failure -L timed) || status=1
[ "$status" -eq 0 ] || exit 1
echo "all tests passed"
