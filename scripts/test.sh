#!/usr/bin/env bash
# Everything on a fresh machine: installs what is missing, builds, and runs
# every check, laid out for two processors:
#  - the GoogleTest host suite is built and run once, under ASan and UBSan
#    (build/sanitize). It only computes, so it starts as soon as the host
#    compiler is installed, at a lower priority: it takes what the rest leaves
#    of the processors (apt mostly waits on the network), and all of them
#    once the rest is done;
#  - the cross compilers install, then the Windows builds compile while what
#    only the tests need (Wine, wine32 where it can run, fonts, ...) installs;
#  - the host configuration, which decides which Wine settings run (so only
#    once wine32 is installed or known missing), builds while the Wine
#    templates boot; then CTest in build/host runs the resource checks, the
#    release checks (first: the longest), the conformance probes and the
#    Wine scenarios, which mostly wait (on Wine's start, on the uninstallers
#    they run), so they run side by side;
#  - the scenarios that measure how fast the dialog answers ("timed") run
#    last, alone.
# Each stage's wall time is printed as it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "test.sh: $1 took $((SECONDS - $2)) s"; }
start=$SECONDS
mkdir -p build
scripts/setup.sh host
stage "setup for the host build" $start

sanitize_log="$PWD/build/sanitize.log"
t=$SECONDS
set -m # the leg gets a process group of its own, ended with the script should it end first
(
  renice -n 10 -p "$BASHPID" >/dev/null
  cmake -S . -B build/sanitize -DBRANNOCH_SANITIZE=ON -DBRANNOCH_WERROR="${BRANNOCH_WERROR:-OFF}" \
    -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build/sanitize -j "$(nproc)"
  stage "sanitizer build" $t
  cd build/sanitize && ctest --output-on-failure -j "$(nproc)"
  stage "sanitizer build and tests" $t
) >"$sanitize_log" 2>&1 &
sanitize=$!
set +m
trap '[ -z "$sanitize" ] || kill -- -"$sanitize" 2>/dev/null || true' EXIT

t=$SECONDS
scripts/setup.sh windows
stage "setup for the Windows builds" $t

setup_log=build/setup-tests.out
t=$SECONDS
(
  scripts/setup.sh tests
  stage "setup for the tests, beside the Windows builds," $t
) >"$setup_log" 2>&1 &
setup=$!
scripts/build.sh win32 win64
stage "Windows builds" $t
setup_status=0
wait "$setup" || setup_status=$?
cat "$setup_log"
[ "$setup_status" -eq 0 ] || exit 1

# The templates every scenario's prefix is copied from boot beside the host
# build, so that the first scenarios do not wait for them: those of the
# settings tests/CMakeLists.txt chooses on the same test.
t2=$SECONDS
templates=()
if scripts/runs32.sh && [ -x /usr/lib/wine/wine ]; then
  settings=("win32 wow64" "win32 win32")
else
  settings=("win64 win64")
fi
for setting in "${settings[@]}"; do
  read -r dir arch <<<"$setting"
  python3 tests/e2e/e2e.py --build-dir "build/$dir" --arch "$arch" --template &
  templates+=($!)
done
scripts/build.sh host
for pid in "${templates[@]}"; do
  # A template that failed to boot is booted again by the first scenario that needs it.
  wait "$pid" || true
done
stage "host build and Wine templates" $t2
stage "builds" $t

status=0
t=$SECONDS
(cd build/host && ctest --output-on-failure -j 4 -LE timed) 2>&1 | tee build/ctest.log || status=1
stage "resources, release checks, conformance, Wine scenarios" $t
if wait "$sanitize"; then
  sanitize=
  grep -E '^test.sh:|tests passed' "$sanitize_log"
else
  sanitize=
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
