#!/usr/bin/env bash
# The demo: installs what is missing, builds, seeds a throwaway Wine prefix
# with all three old editions (a locked library, a running tool), runs the
# real Brannoch.exe, presses the button, answers the box, and prints the
# machine before the run, after it and after a restart.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
python3 tests/e2e/e2e.py --build-dir build/win64 --demo docs
