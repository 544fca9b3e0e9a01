#!/usr/bin/env bash
# Everything on a fresh machine: installs what is missing, builds the three
# configurations, runs the host tests, the resource checks and the Wine
# scenarios (CTest), then the host tests again under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
(cd build/host && ctest --output-on-failure -j "$(nproc)")

cmake -S . -B build/sanitize -DBRANNOCH_SANITIZE=ON -DBRANNOCH_WERROR="${BRANNOCH_WERROR:-OFF}" \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/sanitize -j "$(nproc)"
(cd build/sanitize && ctest --output-on-failure -j "$(nproc)" -LE 'wine|resources')
echo "all tests passed"
