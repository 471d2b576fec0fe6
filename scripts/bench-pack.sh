#!/usr/bin/env bash
# Pack and send on a 100 MB results directory against Info-ZIP "zip -r -8 -P" on the same folder, both
# timed in one run. The core's job runs under Wine through kvxcoredriver.exe: the folder is first copied
# into a fresh results directory (not timed), then _0008_ packs it (timed from the call to the success
# notification: the copy to the tick-count directory and the compression, as the user waits for them).
# Usage: scripts/bench-pack.sh [--text] [--clean] [BUILD_DIR] [CORPUS_DIR]
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

echo "== Info-ZIP zip -r -8 -P (native)"
start=$(date +%s%N)
(cd "$folder" && zip -q -r -8 -P "$password" "$work/native.zip" .)
native_ms=$(( ($(date +%s%N) - start) / 1000000 ))
unzip -tq -P "$password" "$work/native.zip" > /dev/null
echo "native: ${native_ms} ms, $(stat -c %s "$work/native.zip") bytes"

echo "== pack and send (KVXDiagCore under Wine)"
to_windows() { echo "Z:$(echo "$1" | tr / '\\')"; }
temp_unix=$("$root/scripts/wine-run.sh" "$prefix" wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$(WINEPREFIX=$prefix winepath -u "$temp_unix" 2>/dev/null)
before=$(ls "$temp_unix" 2>/dev/null | grep -E '^[0-9]+_*$' || true)
out=$work/driver.txt
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
"$root/scripts/wine-run.sh" "$prefix" "$build/bin/kvxcoredriver.exe" pack --out "$(to_windows "$out")" \
  --dest "$(to_windows "$work/core.zip")" --seed "$(to_windows "$folder")"
# The driver writes its lines in text mode: CR LF.
tr -d '\r' < "$out" > "$out.lf" && mv "$out.lf" "$out"
cat "$out"
grep -q '^INIT rc=0 pending=0' "$out" || { echo "the core did not start fresh (a resume state in $prefix?)"; exit 1; }
grep -q '^NOTIFY code=20 ' "$out" || { echo "pack and send failed"; exit 1; }
core_ms=$(sed -n 's/^ELAPSED ms=//p' "$out")
unzip -tq -P "$password" "$work/core.zip" > /dev/null
echo "core: ${core_ms} ms, $(stat -c %s "$work/core.zip") bytes"

# The run leaves its results directory and its copy directory in the prefix; they are ours to remove.
results=$(sed -n 's/^RESULTS dir=//p' "$out")
if [ -n "$results" ]; then
  results_unix=$(WINEPREFIX=$prefix winepath -u "$results" 2>/dev/null)
  # The removal's own share of the time, as its report line gives it.
  grep -ao 'Personal data removed from the package: [^;]*' "$results_unix/KVXDiagReport.txt" 2>/dev/null || true
  rm -rf "$results_unix"
fi
for name in $(ls "$temp_unix" | grep -E '^[0-9]+_*$' || true); do
  echo "$before" | grep -qx "$name" || rm -rf "${temp_unix:?}/$name"
done

awk -v n="$native_ms" -v c="$core_ms" 'BEGIN { printf "ratio zip/core: %.2f (above 1: pack and send is faster)\n", n / c }'
