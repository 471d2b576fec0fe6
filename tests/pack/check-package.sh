#!/usr/bin/env bash
# Opens the package that the pack test left in DIR with three independent readers, with the package
# password, and compares every extracted file byte for byte with the results directory's copy beside it.
# Usage: check-package.sh DIR   (DIR holds "KVXDiag2 Results.zip", expected/ and password.txt)
set -euo pipefail
dir=$1
zip="$dir/KVXDiag2 Results.zip"
expected="$dir/expected"
[ -f "$zip" ] || { echo "no package in $dir (did the pack test run?)"; exit 1; }
password=$(cat "$dir/password.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Files only: the packer gives empty folders an entry of their own, which the copy cannot show.
compare() {
  local name=$1 out=$2
  (cd "$expected" && find . -type f | sort) > "$work/want"
  (cd "$out" && find . -type f | sort) > "$work/got"
  if ! diff -u "$work/want" "$work/got"; then
    echo "$name: the file lists differ"; return 1
  fi
  while IFS= read -r f; do
    cmp -s "$expected/$f" "$out/$f" || { echo "$name: $f differs"; return 1; }
  done < "$work/want"
  echo "$name: $(wc -l < "$work/want") files identical"
}

echo "== Info-ZIP unzip"
unzip -tq -P "$password" "$zip"
unzip -q -P "$password" "$zip" -d "$work/unzip"
compare unzip "$work/unzip"

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
echo "package OK"
