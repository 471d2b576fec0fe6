#!/usr/bin/env bash
# Builds the deflate fuzzer with clang (libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs it for a bounded time. Fails when the fuzzer finds a crash, a leak or a mismatch.
#   scripts/fuzz-zip.sh [SECONDS]          (default 60; FUZZ_SECONDS also works)
# Env: FUZZ_JOBS (parallel workers, default 1), FUZZ_DIR (build/work dir, default build/zip-fuzz).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
jobs=${FUZZ_JOBS:-1}
work=${FUZZ_DIR:-$root/build/zip-fuzz}
mkdir -p "$work/corpus" "$work/artifacts"

CXX=${CXX_FUZZ:-clang++}
command -v "$CXX" >/dev/null || { echo "fuzz-zip: $CXX not found" >&2; exit 2; }
binary=$work/kvx_deflate_fuzzer
sources=("$root"/fuzz/deflate_fuzzer.cpp "$root"/core/archive/*.cpp)
if [ ! -x "$binary" ] || [ -n "$(find "${sources[@]}" "$root"/core/archive/*.h -newer "$binary" 2>/dev/null | head -1)" ]; then
  echo "fuzz-zip: building $binary"
  "$CXX" -std=c++17 -O2 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -fno-omit-frame-pointer -I"$root" "${sources[@]}" -lz -o "$binary"
fi

# Seeds: small samples of the shapes the tests use, so that the fuzzer starts from real structure.
if [ -z "$(ls -A "$work/corpus")" ]; then
  printf '\x00' > "$work/corpus/empty"
  printf '\x00The quick brown fox jumps over the lazy dog. The quick brown fox.\r\n' > "$work/corpus/text"
  printf '\xc7abc' > "$work/corpus/expanded-run"
  printf '\xe5%s' "$(head -c 2000 /dev/zero | tr '\0' 'a')" > "$work/corpus/expanded-mutated"
  head -c 3000 /dev/urandom > "$work/corpus/random"
  for f in "$root"/core/archive/DeflateEncoder.cpp "$root"/core/archive/Crc32.cpp; do
    { printf '\x00'; head -c 8000 "$f"; } > "$work/corpus/$(basename "$f").seed"
  done
fi

echo "fuzz-zip: running for ${seconds}s with $jobs job(s)"
log=$work/fuzz.log
set +e
"$binary" "$work/corpus" -max_total_time="$seconds" -max_len=65536 -timeout=60 -rss_limit_mb=4096 \
  -jobs="$jobs" -workers="$jobs" -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$log" 2>&1
rc=$?
set -e
if [ "$jobs" -gt 1 ]; then
  cat "$work"/fuzz-*.log >> "$log" 2>/dev/null || true
fi
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)" "$log" | tail -3 || true
if [ $rc -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|libFuzzer)|runtime error|deadly signal" "$log"; then
  echo "fuzz-zip: FAILED (rc $rc); see $log and $work/artifacts" >&2
  grep -E "ERROR|runtime error|SUMMARY" "$log" | head -20 >&2
  exit 1
fi
echo "fuzz-zip: passed"
