#!/usr/bin/env bash
# Benchmarks of the archive writer on the shared corpus (see bench/README.md):
#  1. the deflate encoder against zlib raw deflate level 8 and libdeflate level 8, per file and in
#     total, plus CRC-32 throughput (bench/deflate_bench.cpp);
#  2. kvxzip -p against Info-ZIP zip -r -8 -P on the whole corpus folder (CPU time, archive size).
#   scripts/bench-zip.sh [CORPUS_DIR] [RUNS]
# CORPUS_DIR defaults to /work/corpus (made by ../shared/bench-corpus/make_corpus.sh). Times are CPU
# times (user + system), the median of RUNS interleaved runs (default 5), so that other load on a
# shared machine disturbs them less.
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
cmake --build "$build" --target kvx_deflate_bench kvxzip -j2 >/dev/null
bench=$build/bench/kvx_deflate_bench
kvxzip=$build/tools/kvxzip/kvxzip

echo "== deflate encoder, per file (median of $runs) =="
"$bench" -r "$runs" "$corpus"

echo
echo "== whole folder with encryption: kvxzip -p vs zip -r -8 -P (median of $runs) =="
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The corpus manifest is not part of the package.
cp -a "$corpus" "$work/folder"
rm -f "$work/folder/MANIFEST.sha256"
cpu_seconds() { # command... -> prints user+sys seconds
  local t
  t=$( { /usr/bin/time -f "%U %S" "$@" >/dev/null 2>"$work/err"; } 2>&1; tail -1 "$work/err")
  echo "$t" | awk '{print $1 + $2}'
}
kvx_times=()
zip_times=()
for ((i = 0; i < runs; ++i)); do
  rm -f "$work/kvx.zip" "$work/info.zip"
  kvx_times+=("$(cpu_seconds "$kvxzip" -p benchpass "$work/kvx.zip" "$work/folder")")
  zip_times+=("$(cd "$work/folder" && cpu_seconds zip -q -r -8 -P benchpass "$work/info.zip" .)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
kvx_t=$(median "${kvx_times[@]}")
zip_t=$(median "${zip_times[@]}")
input=$(cd "$work/folder" && find . -type f -print0 | xargs -0 cat | wc -c)
kvx_size=$(stat -c %s "$work/kvx.zip")
zip_size=$(stat -c %s "$work/info.zip")
unzip -tq -P benchpass "$work/kvx.zip" >/dev/null || { echo "bench-zip: kvxzip archive does not test" >&2; exit 1; }
printf '%-28s %14s %9s %9s %8s\n' "program" "archive bytes" "% input" "MB/s" "speed"
printf '%-28s %14d %8.2f%% %9.1f %7.2fx\n' "kvxzip -p" "$kvx_size" "$(echo "100*$kvx_size/$input" | bc -l)" \
  "$(echo "$input/1000000/$kvx_t" | bc -l)" "$(echo "$zip_t/$kvx_t" | bc -l)"
printf '%-28s %14d %8.2f%% %9.1f %7.2fx\n' "zip -r -8 -P" "$zip_size" "$(echo "100*$zip_size/$input" | bc -l)" \
  "$(echo "$input/1000000/$zip_t" | bc -l)" "1"
echo "input: $input bytes; CPU seconds kvxzip: ${kvx_times[*]}; zip: ${zip_times[*]}"
