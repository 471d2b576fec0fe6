#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the Windows builds (i686, the
# primary one, and x86_64) under Wine, and the portable code natively under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/bootstrap.sh

jobs=$(nproc)
status=0
summary=()

run_preset() {
  local preset=$1
  local start=$SECONDS
  cmake --preset "$preset" -DKVX_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # The wizard's UI walk is still being finished and is run on its own (scripts/wizard-test.sh)
  # until it is stable; KVX_CI_ALL=1 includes it here.
  local exclude=()
  if [ "${KVX_CI_ALL:-0}" != 1 ]; then
    exclude=(-E '^wizard$')
  fi
  if ctest --preset "$preset" --output-on-failure "${exclude[@]}"; then
    summary+=("$preset: ok ($((SECONDS - start)) s)")
  else
    summary+=("$preset: FAILED ($((SECONDS - start)) s)")
    status=1
  fi
}

run_preset win32
run_preset win64
run_preset native

for extra in scripts/zip-interop.sh scripts/fuzz-zip.sh; do
  if [ -x "$extra" ] || [ -f "$extra" ]; then
    start=$SECONDS
    if bash "$extra"; then
      summary+=("$(basename "$extra"): ok ($((SECONDS - start)) s)")
    else
      summary+=("$(basename "$extra"): FAILED")
      status=1
    fi
  fi
done

echo
echo "== summary =="
printf '%s\n' "${summary[@]}"
exit $status
