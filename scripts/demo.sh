#!/usr/bin/env bash
# The demo: installs what is missing, builds, seeds a throwaway Wine prefix
# with all three old editions (a locked library, a running tool), runs the
# real Brannoch.exe, presses the button, answers the box, and prints the
# machine before the run, after it and after a restart. Where this kernel runs
# 32-bit code it is the i686 product itself, under WoW64 in a 64-bit prefix as
# on 64-bit Windows; elsewhere (or where wine32 could not be installed) its
# x86_64 twin, and the demo says why.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
if scripts/runs32.sh && [ -x /usr/lib/wine/wine ]; then
  echo "demo: the i686 product build/win32/app/Brannoch.exe under WoW64"
  python3 tests/e2e/e2e.py --build-dir build/win32 --arch wow64 --demo docs
else
  why="$(cat build/wine32-missing 2>/dev/null || echo "wine32 is not installed")"
  echo "demo: $why; the x86_64 twin build/win64/app/Brannoch.exe"
  python3 tests/e2e/e2e.py --build-dir build/win64 --demo docs
fi
