#!/usr/bin/env bash
# Figures, from one machine: time to the dialog against a bare Win32 dialog,
# the overhead of a full removal run over its obliged waits, and sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
python3 tests/e2e/e2e.py --build-dir build/win64 --bench
for exe in build/win32/app/Brannoch.exe build/win32/tests/e2e/helpers/bare_dialog.exe; do
  printf 'size %-48s %7d bytes, imports: %s\n' "$exe" "$(stat -c %s "$exe")" \
    "$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {printf "%s ", $3}')"
done
