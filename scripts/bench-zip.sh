#!/usr/bin/env bash
# Benchmarks of the archive writer on the shared corpus (see bench/README.md):
#  1. the deflate encoder against zlib raw deflate level 8 and libdeflate level 8, per file and in
#     total, plus CRC-32 throughput (bench/deflate_bench.cpp);
#  2. kvxzip -p against Info-ZIP zip -r -8 -P on the whole corpus folder, both with the same password:
#     wall clock (the goal's measure), CPU time (user + system) and peak memory, each the median of
#     RUNS interleaved runs, and the archive sizes.
#   scripts/bench-zip.sh [CORPUS_DIR] [RUNS]
# CORPUS_DIR defaults to /work/corpus (made by ../shared/bench-corpus/make_corpus.sh); RUNS to 5.
# KVXZIP_THREADS=N passes -j N to kvxzip (default: its own, min(processors, 4)). BENCH_SKIP_CODEC=1
# skips the codec table (1.).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-/work/corpus}
runs=${2:-5}
[ -d "$corpus" ] || { echo "bench-zip: no corpus at $corpus" >&2; exit 2; }
command -v zip >/dev/null || { echo "bench-zip: Info-ZIP zip is missing" >&2; exit 2; }

build=${BENCH_BUILD:-$root/build/zip-native-release}
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset native-release -B "$build" >/dev/null
fi
targets=(kvxzip)
[ -z "${BENCH_SKIP_CODEC:-}" ] && targets+=(kvx_deflate_bench)
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null
bench=$build/bench/kvx_deflate_bench
kvxzip=$build/tools/kvxzip/kvxzip

if [ -z "${BENCH_SKIP_CODEC:-}" ]; then
  echo "== deflate encoder, per file (median of $runs) =="
  "$bench" -r "$runs" "$corpus"
fi

echo
echo "== whole folder with encryption: kvxzip -p vs zip -r -8 -P (median of $runs, interleaved) =="
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The corpus manifest is not part of the package.
cp -a "$corpus" "$work/folder"
rm -f "$work/folder/MANIFEST.sha256"
measure() { # command... -> prints "wall cpu peak_kb" (cpu = user + system)
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$work/time"
}
threads=${KVXZIP_THREADS:-}
kvx_args=()
[ -n "$threads" ] && kvx_args=(-j "$threads")
kvx_runs=()
zip_runs=()
for ((i = 0; i < runs; ++i)); do
  rm -f "$work/kvx.zip" "$work/info.zip"
  kvx_runs+=("$(measure "$kvxzip" "${kvx_args[@]}" -p benchpass "$work/kvx.zip" "$work/folder")")
  zip_runs+=("$(cd "$work/folder" && measure zip -q -r -8 -P benchpass "$work/info.zip" .)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
column() { local k=$1; shift; for r in "$@"; do echo "$r" | cut -d' ' -f"$k"; done; }
kvx_wall=$(median $(column 1 "${kvx_runs[@]}")); zip_wall=$(median $(column 1 "${zip_runs[@]}"))
kvx_cpu=$(median $(column 2 "${kvx_runs[@]}")); zip_cpu=$(median $(column 2 "${zip_runs[@]}"))
kvx_mem=$(median $(column 3 "${kvx_runs[@]}")); zip_mem=$(median $(column 3 "${zip_runs[@]}"))
input=$(cd "$work/folder" && find . -type f -print0 | xargs -0 cat | wc -c)
kvx_size=$(stat -c %s "$work/kvx.zip")
zip_size=$(stat -c %s "$work/info.zip")
unzip -tq -P benchpass "$work/kvx.zip" >/dev/null || { echo "bench-zip: kvxzip archive does not test" >&2; exit 1; }
printf '%-22s %14s %9s %9s %9s %10s %8s\n' "program" "archive bytes" "% input" "wall s" "CPU s" "peak MB" "speed"
printf '%-22s %14d %8.2f%% %9.2f %9.2f %10.1f %7.2fx\n' "kvxzip -p ${kvx_args[*]}" "$kvx_size" \
  "$(echo "100*$kvx_size/$input" | bc -l)" "$kvx_wall" "$kvx_cpu" "$(echo "$kvx_mem/1024" | bc -l)" \
  "$(echo "$zip_wall/$kvx_wall" | bc -l)"
printf '%-22s %14d %8.2f%% %9.2f %9.2f %10.1f %7.2fx\n' "zip -r -8 -P" "$zip_size" \
  "$(echo "100*$zip_size/$input" | bc -l)" "$zip_wall" "$zip_cpu" "$(echo "$zip_mem/1024" | bc -l)" "1"
echo "input: $input bytes; runs (wall CPU peakKB) kvxzip: ${kvx_runs[*]}; zip: ${zip_runs[*]}"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
