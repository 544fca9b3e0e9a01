#!/usr/bin/env bash
# Figures, from one machine: time to the dialog against a bare Win32 dialog
# (medians of 15 starts each, taken in turns), the overhead of a full removal
# run over its obliged waits, and sizes: the product as scripts/release.sh
# builds and ships it (i686, stripped, from the committed HEAD).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
python3 tests/e2e/e2e.py --build-dir build/win64 --bench
dist="$(mktemp -d "${TMPDIR:-/tmp}/brannoch-bench.XXXXXX")"
trap 'rm -rf "$dist"' EXIT
scripts/release.sh "$dist" >/dev/null
for exe in "$dist/Brannoch.exe" build/win32/tests/e2e/helpers/bare_dialog.exe; do
  printf 'size %-32s %7d bytes, imports: %s\n' \
    "$([ "$exe" = "$dist/Brannoch.exe" ] && echo "Brannoch.exe (shipped, i686)" || echo "bare dialog (i686)")" \
    "$(stat -c %s "$exe")" "$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {printf "%s ", $3}')"
done
