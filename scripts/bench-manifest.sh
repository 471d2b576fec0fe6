#!/usr/bin/env bash
# What the package manifest adds to pack and send: the same 200 MB results folder packed by this build's
# core and by a core without the manifest (BASELINE_DLL, e.g. a build of the commit before it), both
# under Wine through kvxcoredriver.exe, each timed from _0008_ to the success notification. The folder
# is half incompressible data (like captures) and half log-like text, in 40 files of 5 MB in two levels.
# Usage: scripts/bench-manifest.sh BASELINE_DLL [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
baseline=$(realpath "$1")
build=$(cd "${2:-$root/build/win32}" && pwd)
prefix=$build/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all
[ -f "$build/bin/kvxcoredriver.exe" ] || { echo "build kvxcoredriver in $build first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=$work/results
for i in $(seq 1 20); do
  mkdir -p "$folder/d$((i % 4))/sub"
  head -c $((5 * 1024 * 1024)) /dev/urandom > "$folder/d$((i % 4))/random$i.bin"
  awk -v seed=$i 'BEGIN { srand(seed); while (n < 5242880) { l = sprintf("%02d:%02d:%02d.%03d KVXFLT%c [%d] packet %d from 10.%d.%d.%d:%d verdict %s\n", int(rand()*24), int(rand()*60), int(rand()*60), int(rand()*1000), 65 + int(rand()*6), int(rand()*8), int(rand()*100000), int(rand()*4), int(rand()*256), int(rand()*256), int(rand()*65536), rand() < 0.9 ? "pass" : "drop"); printf "%s", l; n += length(l) } }' > "$folder/d$((i % 4))/sub/log$i.txt"
done
echo "results folder: $(find "$folder" -type f | wc -l) files, $(du -sb "$folder" | cut -f1) bytes"

# The baseline runs from a folder of its own: the driver loads KVXDiagCore.dll from beside itself.
mkdir -p "$work/baseline"
cp "$build/bin/kvxcoredriver.exe" "$work/baseline/"
cp "$baseline" "$work/baseline/KVXDiagCore.dll"

to_windows() { echo "Z:$(echo "$1" | tr / '\\')"; }
temp_unix=$("$root/scripts/wine-run.sh" "$prefix" wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$(WINEPREFIX=$prefix winepath -u "$temp_unix" 2>/dev/null)
before=$(ls "$temp_unix" 2>/dev/null | grep -E '^[0-9]+_*$' || true)
pack() { # label driver-dir
  local out=$work/$1.txt
  "$root/scripts/wine-run.sh" "$prefix" "$2/kvxcoredriver.exe" pack --out "$(to_windows "$out")" \
    --dest "$(to_windows "$work/$1.zip")" --seed "$(to_windows "$folder")" > /dev/null
  tr -d '\r' < "$out" > "$out.lf"
  grep -q '^NOTIFY code=20 ' "$out.lf" || { cat "$out.lf"; echo "$1: pack and send failed"; exit 1; }
  local results
  results=$(sed -n 's/^RESULTS dir=//p' "$out.lf")
  [ -n "$results" ] && rm -rf "$(WINEPREFIX=$prefix winepath -u "$results" 2>/dev/null)"
  sed -n 's/^ELAPSED ms=//p' "$out.lf"
  # The baseline leaves its copy behind. Written back to the disk during the next run, its 200 MB
  # would be charged to whichever core runs next, so it goes now, and what is dirty is written out.
  remove_copies
  sync
}
remove_copies() {
  for name in $(ls "$temp_unix" | grep -E '^[0-9]+_*$' || true); do
    echo "$before" | grep -qx "$name" || rm -rf "${temp_unix:?}/$name"
  done
}
# Five rounds, the two cores taking turns, and the median of each: a Wine run varies by several
# hundred milliseconds from one start to the next, more than the difference being measured.
declare -A times
for round in 1 2 3 4 5; do
  for label in baseline manifest; do
    dir=$build/bin; [ $label = baseline ] && dir=$work/baseline
    ms=$(pack $label "$dir")
    echo "round $round, $label: $ms ms"
    times[$label]="${times[$label]:-} $ms"
  done
done
median() { echo "$1" | tr ' ' '\n' | grep . | sort -n | sed -n 3p; }
unzip -p -P tarsk-708 "$work/manifest.zip" KVXManifest.sha256 | wc -l | sed 's/^/manifest lines: /'
awk -v b="$(median "${times[baseline]}")" -v m="$(median "${times[manifest]}")" \
  'BEGIN { printf "median of five: baseline %d ms, with manifest %d ms, added %.1f %%\n", b, m, (m - b) * 100 / b }'
