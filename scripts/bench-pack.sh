#!/usr/bin/env bash
# Pack and send on a 100 MB results directory against Info-ZIP "zip -r -8 -P" on the same folder with
# the same password, RUNS interleaved runs of each (default 5), medians of wall time, CPU time and peak
# memory. The core's job runs under Wine through kvxcoredriver.exe: the folder is first copied
# into a fresh results directory (not timed), then _0008_ packs it (timed from the call to the success
# notification: the copy to the tick-count directory and the compression, as the user waits for them).
# Usage: scripts/bench-pack.sh [--text] [--clean] [BUILD_DIR] [CORPUS_DIR] [RUNS]
#   --text      only the corpus's text files (no NUL byte in their first 64 KB), topped up to 100 MiB:
#               what the removal of personal data reads and rewrites
#   --clean     pack as the wizard does with "Remove personal data" checked (the choice is written to
#               the prefix's registry for the run and removed after it)
#   BUILD_DIR   a Windows build tree with kvxcoredriver and KVXDiagCore built (default build/win32)
#   CORPUS_DIR  the shared benchmark corpus, made with ../shared/bench-corpus/make_corpus.sh when missing
set -euo pipefail
text_only=0
clean=0
while [ $# -gt 0 ]; do
  case $1 in
    --text) text_only=1; shift ;;
    --clean) clean=1; shift ;;
    *) break ;;
  esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win32}" && pwd)
corpus=${2:-/work/corpus}
runs=${3:-5}
password=tarsk-708
target_bytes=$((100 * 1024 * 1024))
prefix=$build/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=-all

[ -x "$(command -v zip)" ] || { echo "Info-ZIP zip is missing"; exit 1; }
[ -f "$build/bin/kvxcoredriver.exe" ] || { echo "build kvxcoredriver in $build first"; exit 1; }
if [ ! -d "$corpus" ]; then
  bash "$root/../shared/bench-corpus/make_corpus.sh" "$corpus"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=$work/results
mkdir -p "$folder"
is_text() { head -c 65536 "$1" | tr -d '\000' | cmp -s - <(head -c 65536 "$1"); }
if [ "$text_only" = 1 ]; then
  # Text files only, copied again and again under numbered folders until 100 MiB.
  size=0
  round=0
  while [ "$size" -lt "$target_bytes" ]; do
    while IFS= read -r -d '' file; do
      [ "$size" -ge "$target_bytes" ] && break
      is_text "$file" || continue
      relative=${file#"$corpus"/}
      mkdir -p "$folder/copy$round/$(dirname "$relative")"
      cp "$file" "$folder/copy$round/$relative"
      size=$((size + $(stat -c %s "$file")))
    done < <(find "$corpus" -type f -print0 | sort -z)
    round=$((round + 1))
  done
else
  cp -r "$corpus/." "$folder/"
  # Top the corpus (about 75 MB) up to 100 MiB with second copies of its files.
  mkdir -p "$folder/second"
  size=$(du -sb "$folder" | cut -f1)
  while IFS= read -r -d '' file; do
    [ "$size" -ge "$target_bytes" ] && break
    cp "$file" "$folder/second/$(basename "$file")"
    size=$((size + $(stat -c %s "$file")))
  done < <(find "$corpus" -type f -print0 | sort -z)
fi
files=$(find "$folder" -type f | wc -l)
echo "results folder: $files files, $(du -sb "$folder" | cut -f1) bytes"

to_windows() { echo "Z:$(echo "$1" | tr / '\\')"; }
temp_unix=$("$root/scripts/wine-run.sh" "$prefix" wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$(WINEPREFIX=$prefix winepath -u "$temp_unix" 2>/dev/null)
before=$(ls "$temp_unix" 2>/dev/null | grep -E '^[0-9]+_*$' || true)

# One run of each, interleaved, so that a change of the machine's load hits both alike. Each prints
# "wall_ms cpu_s peak_kb". Info-ZIP's figures are its own; the core's wall time is the driver's own
# measure (from _0008_ to the success notification), its CPU time and peak memory those of the whole
# driver process (Wine's start-up and the untimed seeding of the results directory included).
zip_run() {
  rm -f "$work/native.zip"
  local start end
  start=$(date +%s%N)
  (cd "$folder" && /usr/bin/time -f "%U %S %M" -o "$work/zip.time" zip -q -r -8 -P "$password" "$work/native.zip" .)
  end=$(date +%s%N)
  unzip -tq -P "$password" "$work/native.zip" > /dev/null
  awk -v ms=$(( (end - start) / 1000000 )) '{printf "%d %.2f %d\n", ms, $1 + $2, $3}' "$work/zip.time"
}
core_run() {
  rm -f "$work/core.zip"
  local out=$work/driver.txt
  /usr/bin/time -f "%U %S %M" -o "$work/core.time" "$root/scripts/wine-run.sh" "$prefix" \
    "$build/bin/kvxcoredriver.exe" pack --out "$(to_windows "$out")" \
    --dest "$(to_windows "$work/core.zip")" --seed "$(to_windows "$folder")" > /dev/null
  # The driver writes its lines in text mode: CR LF.
  tr -d '\r' < "$out" > "$out.lf" && mv "$out.lf" "$out"
  grep -q '^INIT rc=0 pending=0' "$out" || { echo "the core did not start fresh (a resume state in $prefix?)" >&2; exit 1; }
  grep -q '^NOTIFY code=20 ' "$out" || { cat "$out" >&2; echo "pack and send failed" >&2; exit 1; }
  unzip -tq -P "$password" "$work/core.zip" > /dev/null
  # The run leaves its results directory and its copy directory in the prefix; they are ours to remove.
  local results
  results=$(sed -n 's/^RESULTS dir=//p' "$out")
  [ -n "$results" ] && rm -rf "$(WINEPREFIX=$prefix winepath -u "$results" 2>/dev/null)"
  for name in $(ls "$temp_unix" | grep -E '^[0-9]+_*$' || true); do
    echo "$before" | grep -qx "$name" || rm -rf "${temp_unix:?}/$name"
  done
  awk -v ms="$(sed -n 's/^ELAPSED ms=//p' "$out")" '{printf "%d %.2f %d\n", ms, $1 + $2, $3}' "$work/core.time"
}

choice_key='HKLM\Software\Orvex Software\Orvex Network Manager\KVXDIAG2'
if [ "$clean" = 1 ]; then
  # The prefix gets back the key as it was: the wizard's tests expect no key of the wizard after a run.
  if "$root/scripts/wine-run.sh" "$prefix" wine reg query "$choice_key" /reg:32 > /dev/null 2>&1; then
    undo=(reg delete "$choice_key" /v RemovePersonalData /f /reg:32)
  else
    undo=(reg delete "$choice_key" /f /reg:32)
  fi
  "$root/scripts/wine-run.sh" "$prefix" wine reg add "$choice_key" /v RemovePersonalData /t REG_DWORD /d 1 /f /reg:32 \
    > /dev/null
  trap 'rm -rf "$work"; "$root/scripts/wine-run.sh" "$prefix" wine "${undo[@]}" > /dev/null 2>&1 || true' EXIT
fi
echo "removal of personal data: $([ "$clean" = 1 ] && echo on || echo off)"

zip_runs=()
core_runs=()
for ((i = 0; i < runs; ++i)); do
  zip_runs+=("$(zip_run)")
  core_runs+=("$(core_run)")
  echo "run $((i + 1)): zip ${zip_runs[-1]}; core ${core_runs[-1]} (wall ms, CPU s, peak KB)"
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
column() { local k=$1; shift; for r in "$@"; do echo "$r" | cut -d' ' -f"$k"; done; }
zip_ms=$(median $(column 1 "${zip_runs[@]}")); core_ms=$(median $(column 1 "${core_runs[@]}"))
printf '%-30s %9s %9s %10s %14s\n' "" "wall ms" "CPU s" "peak MB" "archive bytes"
printf '%-30s %9d %9.2f %10.1f %14d\n' "Info-ZIP zip -r -8 -P (native)" "$zip_ms" \
  "$(median $(column 2 "${zip_runs[@]}"))" "$(echo "$(median $(column 3 "${zip_runs[@]}"))/1024" | bc -l)" \
  "$(stat -c %s "$work/native.zip")"
printf '%-30s %9d %9.2f %10.1f %14d\n' "pack and send (core, Wine)" "$core_ms" \
  "$(median $(column 2 "${core_runs[@]}"))" "$(echo "$(median $(column 3 "${core_runs[@]}"))/1024" | bc -l)" \
  "$(stat -c %s "$work/core.zip")"
awk -v n="$zip_ms" -v c="$core_ms" 'BEGIN { printf "ratio zip/core (median of wall times): %.2f (above 1: pack and send is faster)\n", n / c }'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
