#!/usr/bin/env bash
# Builds kvxinspect's reader fuzzer with clang (libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs it for a bounded time, seeded with packages made by the project's own writer (kvxzip), one of
# them holding a report. Each input is also extracted into a fresh folder below $work/extract, which
# must be left empty unless the extraction succeeded. Fails when the fuzzer finds a crash, a leak,
# undefined behaviour or a half-finished extraction.
#   scripts/fuzz-package-reader.sh [SECONDS]      (default 60; FUZZ_SECONDS also works)
# Env: FUZZ_DIR (build/work dir, default build/package-reader-fuzz).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
work=${FUZZ_DIR:-$root/build/package-reader-fuzz}
mkdir -p "$work/corpus" "$work/artifacts" "$work/extract" "$work/seed-src/BasicAnalisys/KVXFLTF/Pre"

CXX=${CXX_FUZZ:-clang++}
command -v "$CXX" >/dev/null || { echo "fuzz-package-reader: $CXX not found" >&2; exit 2; }
binary=$work/kvx_package_reader_fuzzer
kvxzip=$work/kvxzip
archive_sources=("$root"/core/archive/*.cpp)
inspect_sources=()
for f in "$root"/tools/packagereader/*.cpp; do
  [ "$(basename "$f")" = Main.cpp ] || inspect_sources+=("$f")
done
if [ ! -x "$binary" ] || [ -n "$(find "${archive_sources[@]}" "${inspect_sources[@]}" "$root"/fuzz/package_reader_fuzzer.cpp \
  "$root"/core/archive/*.h "$root"/tools/packagereader/*.h -newer "$binary" 2>/dev/null | head -1)" ]; then
  echo "fuzz-package-reader: building $binary"
  "$CXX" -std=c++17 -O2 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
    -I"$root" "$root"/fuzz/package_reader_fuzzer.cpp "${inspect_sources[@]}" "${archive_sources[@]}" -lz -lcrypto -o "$binary"
  "$CXX" -std=c++17 -O2 -I"$root" "$root"/tools/kvxzip/kvxzip.cpp "${archive_sources[@]}" -o "$kvxzip"
fi

if [ -z "$(ls -A "$work/corpus")" ]; then
  src=$work/seed-src
  printf '09-12-2026 10:00:00\t-> ======================Basic Analysis======================\n09-12-2026 10:00:00\t\t-> -Operations for filter "KVXFLTF"\n09-12-2026 10:00:01\t\t\t\tFilter KVXFLTF deactivated.\n09-12-2026 10:00:02\t\t\t\tThe problem was fixed, analysis finished.\n' > "$src/KVXDiagReport.txt"
  printf 'Taken: 1\nrule 1\n' > "$src/BasicAnalisys/KVXFLTF/Pre/KVXSnapshot.txt"
  (cd "$src" && sha256sum KVXDiagReport.txt BasicAnalisys/KVXFLTF/Pre/KVXSnapshot.txt > KVXManifest.sha256)
  "$kvxzip" -p tarsk-708 "$work/corpus/encrypted.zip" "$src"
  "$kvxzip" "$work/corpus/plain.zip" "$src"
  printf 'PK\005\006%018d' 0 | tr 0 '\0' > "$work/corpus/empty-zip"
fi

echo "fuzz-package-reader: running for ${seconds}s"
log=$work/fuzz.log
set +e
FUZZ_EXTRACT_DIR=$work/extract "$binary" "$work/corpus" -max_total_time="$seconds" -max_len=65536 -timeout=30 -rss_limit_mb=2048 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$log" 2>&1
rc=$?
set -e
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)" "$log" | tail -3 || true
if [ $rc -ne 0 ] || grep -qE "ERROR: (AddressSanitizer|libFuzzer)|runtime error|deadly signal" "$log"; then
  echo "fuzz-package-reader: FAILED (rc $rc); see $log and $work/artifacts" >&2
  grep -E "ERROR|runtime error|SUMMARY" "$log" | head -20 >&2
  exit 1
fi
echo "fuzz-package-reader: passed"
