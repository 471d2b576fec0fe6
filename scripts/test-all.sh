#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the Windows builds (i686, the
# primary one, and x86_64) under Wine, and the portable code natively under the sanitizers.
#
# The Wine suites spend most of their time waiting (process starts, the product's time-outs, the
# wizard's screens), so they run beside the next compilation instead of after it: while the i686
# tests run, the x86_64 and native trees are built at a lower priority; then the x86_64 tests run
# beside the native tests, the interop check, the fuzzers and the bootstrap's fallback check. Then the
# release files are checked (SHA256SUMS, the signatures) and the committed state is built twice more to
# show that it builds reproducibly. Every step writes its own log, shown whole when the step fails.
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
# release_files: each Windows tree's release files agree with its SHA256SUMS, and every program of
# its ZIPs carries a SHA-256 Authenticode signature that osslsigncode verifies (the test certificate
# is its own root; a real one chains to the system's).
release_files() {
  local preset dist ca zip program out status=0
  for preset in win32 win64; do
    dist=$root/build/$preset/dist
    [ -f "$dist/SHA256SUMS" ] || { echo "$preset: no SHA256SUMS"; status=1; continue; }
    (cd "$dist" && sha256sum -c SHA256SUMS) || status=1
    ca=()
    [ -f "$root/build/$preset/signing/test-certificate.pem" ] && ca=(-CAfile "$root/build/$preset/signing/test-certificate.pem")
    for zip in "$dist"/*.zip; do
      for program in "${zip%.zip}"/*.exe "${zip%.zip}"/*.dll; do
        [ -f "$program" ] || continue
        if out=$(osslsigncode verify "${ca[@]}" -in "$program" 2>&1) && grep -q "digest algorithm *: SHA256" <<<"$out"; then
          echo "$preset $(basename "$program"): signature verified (SHA-256)"
        else
          echo "$program: the signature does not verify:"
          echo "$out"
          status=1
        fi
      done
    done
  done
  return $status
}

step zip-interop bash scripts/zip-interop.sh
step fuzz-zip bash scripts/fuzz-zip.sh
step fuzz-package-reader bash scripts/fuzz-package-reader.sh
step bootstrap-fallback bash scripts/test-bootstrap.sh
[ -n "$tests32" ] && wait "$tests32"
[ -n "$tests64" ] && wait "$tests64"
step release-files release_files
# Last, alone on the cores: two more builds of the release targets, compiler cache off (about 3 minutes
# of processor time each, so 3 to 4 minutes on 2 cores).
step reproducible bash scripts/check-reproducible.sh win32

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
