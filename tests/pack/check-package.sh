#!/usr/bin/env bash
# Opens the package that the pack test left in DIR with three independent readers, with the package
# password, and compares every extracted file byte for byte with the results directory's files beside
# it; checks the extraction with `sha256sum -c` against the package's manifest, whose lines must follow
# the archive's order. DIR/locked holds a package made while one file was held without sharing: its
# manifest must name that file (unreadable.txt) in a line that sha256sum reports as improperly formatted.
# DIR/cleaned holds a package packed with personal data removed: none of the values in planted.txt may
# be found in any extracted file, byte for byte and in any case, and its note must be listed by the
# manifest; DIR/cleaned/unchecked, packed without, must be the results directory as it was.
# Usage: check-package.sh DIR   (DIR holds "KVXDiag2 Results.zip", expected/ and password.txt)
set -euo pipefail
dir=$1
zip="$dir/KVXDiag2 Results.zip"
expected="$dir/expected"
[ -f "$zip" ] || { echo "no package in $dir (did the pack test run?)"; exit 1; }
password=$(cat "$dir/password.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Files only: the packer gives empty folders an entry of their own, which the copy cannot show. The
# manifest is the package's own; the report only grows while the job writes its lines, so the packed
# one must begin with what the results directory held before.
compare() {
  local name=$1 out=$2 expected=${3:-$expected}
  (cd "$expected" && find . -type f | sort) > "$work/want"
  (cd "$out" && find . -type f ! -path ./KVXManifest.sha256 | sort) > "$work/got"
  if ! diff -u "$work/want" "$work/got"; then
    echo "$name: the file lists differ"; return 1
  fi
  while IFS= read -r f; do
    if [ "$f" = ./KVXDiagReport.txt ]; then
      head -c "$(stat -c %s "$expected/$f")" "$out/$f" | cmp -s - "$expected/$f" ||
        { echo "$name: $f does not begin with the results directory's report"; return 1; }
    else
      cmp -s "$expected/$f" "$out/$f" || { echo "$name: $f differs"; return 1; }
    fi
  done < "$work/want"
  echo "$name: $(wc -l < "$work/want") files identical"
}

# The manifest lists every packed file but itself, in the archive's order, and sha256sum accepts it.
check_manifest() {
  local zip=$1 out=$2
  [ -f "$out/KVXManifest.sha256" ] || { echo "no manifest in the package"; return 1; }
  unzip -Z1 "$zip" | grep -v '/$' | grep -vx KVXManifest.sha256 > "$work/order-zip"
  grep -v '^UNREADABLE ' "$out/KVXManifest.sha256" | cut -c67- > "$work/order-manifest"
  diff -u "$work/order-zip" "$work/order-manifest" || { echo "manifest lines not in packing order"; return 1; }
  (cd "$out" && sha256sum --quiet -c KVXManifest.sha256) 2> "$work/sha256sum.err" ||
    { cat "$work/sha256sum.err"; echo "sha256sum -c failed"; return 1; }
  echo "manifest: $(wc -l < "$work/order-manifest") files verified by sha256sum -c"
}

echo "== Info-ZIP unzip"
unzip -tq -P "$password" "$zip"
unzip -q -P "$password" "$zip" -d "$work/unzip"
compare unzip "$work/unzip"
check_manifest "$zip" "$work/unzip"

echo "== 7-Zip"
sevenzip=$(command -v 7z || command -v 7zz || true)
[ -n "$sevenzip" ] || { echo "7-Zip is missing"; exit 1; }
"$sevenzip" t -p"$password" "$zip" > "$work/7z-test.txt" || { cat "$work/7z-test.txt"; exit 1; }
"$sevenzip" x -p"$password" -o"$work/7z" "$zip" > /dev/null
compare 7-Zip "$work/7z"

echo "== Python zipfile"
python3 - "$zip" "$password" "$work/python" <<'PY'
import sys, zipfile
archive, password, out = sys.argv[1], sys.argv[2].encode(), sys.argv[3]
with zipfile.ZipFile(archive) as z:
    for info in z.infolist():
        if not info.is_dir() and not info.flag_bits & 1:
            sys.exit(f"{info.filename} is not encrypted")
    z.extractall(out, pwd=password)
    for info in z.infolist():
        if not info.is_dir():
            z.read(info, pwd=password)  # raises on a CRC mismatch
PY
compare python "$work/python"

echo "== a wrong password is refused"
if unzip -tq -P "wrong-000" "$zip" > /dev/null 2>&1; then
  echo "the package opened with a wrong password"; exit 1
fi
locked="$dir/locked"
if [ -d "$locked" ]; then
  echo "== a file held without sharing"
  unzip -q -P "$password" "$locked/KVXDiag2 Results.zip" -d "$work/locked"
  compare locked "$work/locked" "$locked/expected"
  grep -qxF -f "$locked/unreadable.txt" "$work/locked/KVXManifest.sha256" ||
    { cat "$work/locked/KVXManifest.sha256"; echo "the manifest does not name the held file"; exit 1; }
  check_manifest "$locked/KVXDiag2 Results.zip" "$work/locked"
  grep -q "1 line is improperly formatted" "$work/sha256sum.err" ||
    { cat "$work/sha256sum.err"; echo "sha256sum did not set the unreadable line aside"; exit 1; }
  if (cd "$work/locked" && sha256sum --strict --quiet -c KVXManifest.sha256) 2> /dev/null; then
    echo "sha256sum --strict accepted the unreadable line"; exit 1
  fi
fi
cleaned="$dir/cleaned"
if [ -d "$cleaned" ]; then
  echo "== personal data removed"
  unzip -q -P "$password" "$cleaned/KVXDiag2 Results.zip" -d "$work/cleaned"
  check_manifest "$cleaned/KVXDiag2 Results.zip" "$work/cleaned"
  grep -q '  KVXPrivacy.txt$' "$work/cleaned/KVXManifest.sha256" || { echo "the manifest does not list the note"; exit 1; }
  if grep -rFaio -f "$cleaned/planted.txt" "$work/cleaned" | sort -u; then
    echo "planted values found in the cleaned package"; exit 1
  fi
  echo "cleaned: none of $(grep -c . "$cleaned/planted.txt") planted values in $(find "$work/cleaned" -type f | wc -l) files"
  unzip -q -P "$password" "$cleaned/unchecked/KVXDiag2 Results.zip" -d "$work/unchecked"
  compare unchecked "$work/unchecked" "$cleaned/unchecked/expected"
  grep -rFaiq -f "$cleaned/planted.txt" "$work/unchecked" || { echo "the unchecked package lost the planted values"; exit 1; }
fi
echo "package OK"
