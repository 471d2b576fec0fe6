#!/usr/bin/env bash
# Interoperability test of the archive writer: packs a test tree with kvxzip (native build), with and
# without a password, and has Info-ZIP unzip, 7-Zip, Python's zipfile and libarchive's bsdtar verify
# every archive (CRC tests, and extraction compared byte for byte with the tree). Then packs onto a
# volume that fills up and onto a read-only one, which must fail with the writer's codes.
#   scripts/zip-interop.sh [--windows]
# --windows also packs the small tree with the i686 kvxzip.exe under Wine (build/zip-win32 or
# KVXZIP_EXE), with and without a password, and checks those archives the same way (about 20 s more).
# Env: KVXZIP (native kvxzip to use; default: built in build/zip-native-release),
#      INTEROP_DIR (work directory, default /tmp/kvx-zip-interop; the 200 MB file is kept there).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${INTEROP_DIR:-/tmp/kvx-zip-interop}
password='Kvx-Diag2 p@ss'
with_windows=0
[ "${1:-}" = "--windows" ] && with_windows=1

need() { command -v "$1" >/dev/null || { echo "zip-interop: $1 is missing" >&2; exit 2; }; }
need unzip
need bsdtar
need python3
sevenzip=$(command -v 7zz || command -v 7z || command -v 7za || true)
[ -n "$sevenzip" ] || { echo "zip-interop: 7-Zip (7zz/7z) is missing" >&2; exit 2; }

kvxzip=${KVXZIP:-}
if [ -z "$kvxzip" ]; then
  build=$root/build/zip-native-release
  if [ ! -f "$build/build.ninja" ]; then
    cmake --preset native-release -B "$build" >/dev/null || exit 2
  fi
  cmake --build "$build" --target kvxzip -j2 >/dev/null || { echo "zip-interop: build failed" >&2; exit 2; }
  kvxzip=$build/tools/kvxzip/kvxzip
fi

passed=0
failed=0
failures=()
check() { # name, command...
  local name=$1
  shift
  if "$@" >"$work/last.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "FAIL: $name" >&2
    tail -5 "$work/last.log" >&2
  fi
}

mkdir -p "$work"
tree=$work/tree
small=$work/small
rm -rf "$tree" "$small" "$work"/out-* "$work"/*.zip
mkdir -p "$tree" "$small"

# --- the test tree -----------------------------------------------------------------------------
python3 - "$tree" "$small" "$work" <<'PY'
import os, random, sys
tree, small, work = sys.argv[1:4]
r = random.Random(20240314)
def write(base, rel, data):
    p = os.path.join(base, rel)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, 'wb') as f:
        f.write(data)
text_line = b"2024-03-14 10:15:37.123 [KVXFLTA] connection 192.168.1.%d:443 filter=allow status=0x%08X\r\n"
def text(n, seed):
    rr = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        out += text_line % (rr.randrange(256), rr.getrandbits(32))
    return bytes(out[:n])
def rnd(n, seed):
    return random.Random(seed).randbytes(n)
for base in (tree, small):
    write(base, "empty.txt", b"")
    write(base, "one.bin", b"\x00")
    write(base, "report.txt", text(300000, 1))
    write(base, "sizes/65535.bin", rnd(65535, 2))
    write(base, "sizes/65536.txt", text(65536, 3))
    write(base, "sizes/65537.bin", rnd(65537, 4))
    write(base, "binary/random.dat", rnd(1 << 20, 5))
    write(base, "binary/zeros.dat", bytes(3 << 20))
    write(base, "binary/mixed.dat", rnd(100000, 6) + text(400000, 7) + rnd(50000, 8))
    # stored because of their suffix, and one that only looks like it
    write(base, "packed/old_logs.zip", rnd(70000, 9))
    write(base, "packed/trace.GZ", rnd(5000, 10))
    write(base, "packed/x.tgz", text(9000, 11))
    write(base, "packed/legacy.Z", text(1000, 12))
    write(base, "packed/backup.zip/notes", text(20000, 13))
    # a Windows program, to exercise the executable bit
    exe = bytearray(4096)
    exe[0:2] = b"MZ"; exe[60:64] = (128).to_bytes(4, "little"); exe[128:132] = b"PE\0\0"
    write(base, "tools/probe.exe", bytes(exe))
    write(base, "names/with space.txt", b"space")
    write(base, "names/acentuación.txt", "ñandú".encode("utf-8"))
    write(base, "names/UPPER.LOG", text(3000, 14))
    deep = "deep/" + "/".join("level%02d" % i for i in range(25))
    write(base, deep + "/leaf.txt", text(5000, 15))
    os.makedirs(os.path.join(base, "empty-dir/nested-empty"), exist_ok=True)
    os.makedirs(os.path.join(base, deep + "/empty-leaf"), exist_ok=True)
# The 200 MB file is made once and kept: text and random in 1 MiB stripes.
big = os.path.join(work, "big-200MB.dat")
if not os.path.exists(big) or os.path.getsize(big) != 200 * 1024 * 1024:
    with open(big, "wb") as f:
        for i in range(200):
            f.write(text(1 << 20, 100 + i) if i % 2 == 0 else rnd(1 << 20, 100 + i))
PY
[ $? -eq 0 ] || { echo "zip-interop: could not make the test tree" >&2; exit 2; }
mkdir -p "$tree/huge"
ln -f "$work/big-200MB.dat" "$tree/huge/big-200MB.dat" 2>/dev/null || cp "$work/big-200MB.dat" "$tree/huge/big-200MB.dat"

# --- one archive through every tool ----------------------------------------------------------------
verify() { # label, archive, source tree, password ("" for none), python-skip-pattern, diff-exclude
  local label=$1 zip=$2 src=$3 pw=$4 skip=$5 exclude=${6:-}
  local diffopts=()
  [ -n "$exclude" ] && diffopts=(-x "$exclude")
  local out=$work/out-$label
  if [ -n "$pw" ]; then
    check "$label: unzip -t" bash -c "unzip -tq -P '$pw' '$zip' | grep -q 'No errors detected'"
    check "$label: 7-Zip t" "$sevenzip" t -p"$pw" "$zip"
    check "$label: bsdtar extract" bash -c "mkdir -p '$out/bsdtar' && bsdtar -xf '$zip' --passphrase '$pw' -C '$out/bsdtar'"
    check "$label: unzip extract" bash -c "mkdir -p '$out/unzip' && unzip -qo -P '$pw' '$zip' -d '$out/unzip'"
  else
    check "$label: unzip -t" bash -c "unzip -tq '$zip' | grep -q 'No errors detected'"
    check "$label: 7-Zip t" "$sevenzip" t "$zip"
    check "$label: bsdtar extract" bash -c "mkdir -p '$out/bsdtar' && bsdtar -xf '$zip' -C '$out/bsdtar'"
    check "$label: unzip extract" bash -c "mkdir -p '$out/unzip' && unzip -qo '$zip' -d '$out/unzip'"
  fi
  check "$label: bsdtar tree equals source" diff -r "${diffopts[@]}" "$src" "$out/bsdtar"
  check "$label: unzip tree equals source" diff -r "${diffopts[@]}" "$src" "$out/unzip"
  check "$label: python zipfile" python3 - "$zip" "$pw" "$skip" <<'PY'
import sys, zipfile, zlib
path, pw, skip = sys.argv[1], sys.argv[2], sys.argv[3]
with zipfile.ZipFile(path) as z:
    if pw:
        z.setpassword(pw.encode())
    names = z.namelist()
    assert len(names) == len(set(names)), "duplicate names"
    for info in z.infolist():
        if info.is_dir():
            assert info.file_size == 0 and info.compress_type == zipfile.ZIP_STORED, info.filename
            continue
        if skip and skip in info.filename:
            continue  # Python decrypts in pure Python; the huge entry is left to the other tools
        data = z.read(info)  # checks the CRC
        assert len(data) == info.file_size, info.filename
        assert (zlib.crc32(data) & 0xFFFFFFFF) == info.CRC, info.filename
        assert bool(info.flag_bits & 1) == bool(pw), info.filename
print("ok", len(names))
PY
  rm -rf "$out"
}

start=$(date +%s)
for mode in plain password; do
  pw=""
  [ $mode = password ] && pw=$password
  zip=$work/native-$mode.zip
  if [ -n "$pw" ]; then
    check "native-$mode: kvxzip" "$kvxzip" -p "$pw" "$zip" "$tree"
  else
    check "native-$mode: kvxzip" "$kvxzip" "$zip" "$tree"
  fi
  [ -f "$zip" ] || continue
  skip=""
  [ -n "$pw" ] && skip="big-200MB"
  verify "native-$mode" "$zip" "$tree" "$pw" "$skip"
done

# Every entry's record, as the writer's rules say: folders stored and empty, suffixes stored.
check "record rules" python3 - "$work/native-password.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        ext = i.filename.rsplit(".", 1)[-1].lower() if "." in i.filename else ""
        if i.is_dir():
            assert i.flag_bits == 0 and i.compress_type == 0 and i.external_attr == 0x41C00010, i.filename
        elif ext in ("z", "zip", "zoo", "arc", "lzh", "arj", "gz", "tgz"):
            assert i.compress_type == 0 and i.flag_bits == 9, i.filename
        else:
            assert i.compress_type == 8 and i.flag_bits == 9, i.filename
        assert i.create_version == 23 and i.create_system == 11 and i.extract_version == 20, i.filename
    exe = z.getinfo("tools/probe.exe")
    assert exe.external_attr & 0x00400000, "executable bit"
print("ok")
PY

# --- destinations that cannot take the archive -------------------------------------------------------
# A volume that fills up and a read-only one, as tmpfs mounts in a private user and mount namespace, so
# that nothing outside sees them and no privilege is needed. kvxzip must fail with the writer's code
# (0x400 for a failed write, 0x200 for an archive that cannot be created) and never exit with 0.
volumes=$work/volumes
rm -rf "$volumes"
mkdir -p "$volumes/full" "$volumes/readonly"
if unshare -rm true 2>/dev/null; then
  check "full volume: write error, never success" unshare -rm bash -c '
    mount -t tmpfs -o size=256k tmpfs "$1" || exit 2
    "$2" -p pw "$1/package.zip" "$3" 2>"$4" && exit 1
    grep -q "0x00000400" "$4"' _ "$volumes/full" "$kvxzip" "$small" "$volumes/full.err"
  check "read-only volume: create error, never success" unshare -rm bash -c '
    mount -t tmpfs -o ro,size=64k tmpfs "$1" || exit 2
    "$2" "$1/package.zip" "$3" 2>"$4" && exit 1
    grep -q "0x00000200" "$4"' _ "$volumes/readonly" "$kvxzip" "$small" "$volumes/readonly.err"
else
  # The always-full device still shows the write path; a read-only volume needs a mount.
  check "full volume (/dev/full): write error, never success" bash -c '
    "$1" -p pw /dev/full "$2" 2>"$3" && exit 1
    grep -q "0x00000400" "$3"' _ "$kvxzip" "$small" "$volumes/full.err"
  echo "zip-interop: no user namespaces here, the read-only volume is not checked" >&2
fi
rm -rf "$volumes"

if [ $with_windows -eq 1 ]; then
  exe=${KVXZIP_EXE:-$root/build/zip-win32/tools/kvxzip/kvxzip.exe}
  if [ -f "$exe" ]; then
    prefix=${KVXZIP_WINEPREFIX:-$(dirname "$(dirname "$(dirname "$exe")")")/wineprefix}
    # Both modes: only the archive without a password has its local headers rewritten through the
    # Win32 file pointer.
    for mode in plain password; do
      pw=""
      [ $mode = password ] && pw=$password
      wzip=$work/windows-$mode.zip
      check "windows-$mode: kvxzip.exe under Wine" "$root/scripts/wine-run.sh" "$prefix" "$exe" ${pw:+-p "$pw"} \
        "$(WINEPREFIX=$prefix winepath -w "$wzip" 2>/dev/null)" "$(WINEPREFIX=$prefix winepath -w "$small" 2>/dev/null)"
      [ -f "$wzip" ] || continue
      # The Windows build names files through the ANSI calls: the accented name is stored in the ANSI
      # code page (1252 here), without the UTF-8 flag, so it is checked by its bytes, not by extraction.
      verify "windows-$mode" "$wzip" "$small" "$pw" "" "acentuaci*"
      check "windows-$mode: ANSI name bytes" python3 - "$wzip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    raw = [i.orig_filename.encode("cp437") for i in z.infolist()]
    assert "names/acentuación.txt".encode("cp1252") in raw, raw
print("ok")
PY
    done
  else
    echo "zip-interop: no Windows kvxzip.exe at $exe, skipped" >&2
  fi
fi

rm -f "$tree/huge/big-200MB.dat"
echo
echo "zip-interop: $passed checks passed, $failed failed ($(( $(date +%s) - start )) s); tools: $(unzip -v | head -1 | cut -c1-30), $(basename "$sevenzip"), python $(python3 -c 'import sys; print(sys.version.split()[0])'), $(bsdtar --version | cut -d' ' -f1-2)"
for f in "${failures[@]}"; do
  echo "  failed: $f"
done
[ $failed -eq 0 ]
