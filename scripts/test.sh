#!/usr/bin/env bash
# Everything on a fresh machine: installs what is missing, builds the three
# configurations, runs the host tests, the resource checks, the release checks
# and the Wine scenarios (CTest), and the host tests again under ASan and
# UBSan. The Wine scenarios mostly wait (on Wine's start, on the uninstallers
# they run), so they run side by side, and the sanitizer build and its tests
# run beside them on what they leave of the processors; the scenarios that
# measure how fast the dialog answers ("timed") run last, alone. Each stage's
# wall time is printed as it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "test.sh: $1 took $((SECONDS - $2)) s"; }
start=$SECONDS
scripts/setup.sh
stage setup $start
t=$SECONDS
scripts/build.sh
stage build $t

mkdir -p build
sanitize_log="$PWD/build/sanitize.log"
t=$SECONDS
(
  cmake -S . -B build/sanitize -DBRANNOCH_SANITIZE=ON -DBRANNOCH_WERROR="${BRANNOCH_WERROR:-OFF}" \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build/sanitize -j "$(nproc)"
  stage "sanitizer build" $t
  cd build/sanitize && ctest --output-on-failure -j "$(nproc)" -LE 'wine|resources'
  stage "sanitizer build and tests" $t
) >"$sanitize_log" 2>&1 &
sanitize=$!

status=0
(cd build/host && ctest --output-on-failure -j 4 -LE timed) 2>&1 | tee build/ctest.log || status=1
stage "host tests, release checks, conformance, Wine scenarios" $t
if wait "$sanitize"; then
  grep -E '^test.sh:|tests passed' "$sanitize_log"
else
  cat "$sanitize_log"
  echo "the host tests under the sanitizers FAILED"
  status=1
fi
t=$SECONDS
(cd build/host && ctest --output-on-failure -L timed) 2>&1 | tee -a build/ctest.log || status=1
stage "timed Wine scenarios" $t
stage "everything" $start
# Which settings the Wine scenarios ran in: a green run without the i686
# product itself must be seen as such.
for setting in "i686-wow64:the i686 product under WoW64" "i686-win32:the i686 product in a 32-bit prefix" \
               ":the x86_64 twin in a 64-bit prefix"; do
  name=${setting%%:*}
  pattern="wine\.${name:+$name\.}[A-Za-z0-9-]+ "
  ran=$(grep -E "Test +#[0-9]+: $pattern" build/ctest.log | grep -Evc 'Skipped|Not Run' || true)
  skipped=$(grep -E "Test +#[0-9]+: $pattern" build/ctest.log | grep -Ec 'Skipped|Not Run' || true)
  [ "$ran" -eq 0 ] && [ "$skipped" -eq 0 ] && continue
  msg="test.sh: Wine scenarios, ${setting#*:}: $ran ran"
  [ "$skipped" -eq 0 ] || msg+=", $skipped skipped"
  echo "$msg"
done
[ "$status" -eq 0 ] || exit 1
echo "all tests passed"
