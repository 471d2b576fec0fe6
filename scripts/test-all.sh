#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the Windows builds (i686, the
# primary one, and x86_64) under Wine, and the portable code natively under the sanitizers.
#
# The Wine suites spend most of their time waiting (process starts, the product's time-outs, the
# wizard's screens), so they run beside the next compilation instead of after it: while the i686
# tests run, the x86_64 and native trees are built at a lower priority; then the x86_64 tests run
# beside the native tests, the interop check and the fuzzer. Every step writes its own log, shown
# whole when the step fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/bootstrap.sh || exit 1

jobs=$(nproc)
logs=$root/build/ci-logs
rm -rf "$logs"
mkdir -p "$logs"
started=$SECONDS

# step NAME COMMAND...: runs the command with its output in $logs/NAME.log and records the outcome.
step() {
  local name=$1
  shift
  local start=$SECONDS
  if "$@" >"$logs/$name.log" 2>&1; then
    echo "$name: ok ($((SECONDS - start)) s)" >"$logs/$name.result"
  else
    echo "$name: FAILED ($((SECONDS - start)) s)" >"$logs/$name.result"
  fi
  cat "$logs/$name.result"
}

configure_and_build() {
  local preset=$1
  cmake --preset "$preset" -DKVX_WERROR=ON && cmake --build --preset "$preset" -j"$jobs"
}

run_tests() {
  ctest --preset "$1" --output-on-failure
}

background_builds() {
  # Below the tests' priority: the timing checks of the running suite must not starve.
  nice -n 15 bash -c "$(declare -f step configure_and_build); logs=$logs jobs=$jobs
    step build-win64 configure_and_build win64
    step build-native configure_and_build native"
}

step build-win32 configure_and_build win32
if grep -q ok "$logs/build-win32.result"; then
  step test-win32 run_tests win32 &
  tests32=$!
else
  tests32=
fi
background_builds
if grep -q ok "$logs/build-win64.result"; then
  step test-win64 run_tests win64 &
  tests64=$!
else
  tests64=
fi
if grep -q ok "$logs/build-native.result"; then
  step test-native run_tests native
fi
step zip-interop bash scripts/zip-interop.sh
step fuzz-zip bash scripts/fuzz-zip.sh
step fuzz-package-reader bash scripts/fuzz-package-reader.sh
[ -n "$tests32" ] && wait "$tests32"
[ -n "$tests64" ] && wait "$tests64"

status=0
for result in "$logs"/*.result; do
  if grep -q FAILED "$result"; then
    status=1
    name=$(basename "$result" .result)
    echo
    echo "===== $name failed; its log follows ====="
    tail -n 400 "$logs/$name.log"
  fi
done

echo
echo "== summary ($((SECONDS - started)) s in all) =="
cat "$logs"/*.result
exit $status
