#!/usr/bin/env bash
# Builds the committed state twice, in two folders of different names and depths, and compares what
# would be released:
#   1. signed (each build with its own throw-away certificate, or with the one the environment names):
#      every program of both ZIPs must be byte-identical once osslsigncode has removed its signature,
#      and every other file identical as it is;
#   2. then unsigned (-DKVX_SIGN=OFF, only the packing runs again): the ZIPs, their bills of materials
#      and SHA256SUMS must be byte-identical.
# Only the release targets are built (the deliverables, kvxinspect and the icon generator), with the
# compiler cache off unless the caller wants it (CCACHE_DISABLE=0): a hit would hide a difference.
#
#   scripts/check-reproducible.sh [PRESET]      (default win32; HEAD must be committed)
# Environment: KVX_REPRO_DIR (default build/reproducible), KVX_REPRO_KEEP=1 keeps the two trees.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
preset=${1:-win32}
base=$(realpath -m "${KVX_REPRO_DIR:-$repo/build/reproducible}")
export CCACHE_DISABLE=${CCACHE_DISABLE:-1}
# Each tree is a clone at the commit, built as any build is: the release time comes from the commit,
# not from a SOURCE_DATE_EPOCH that would also steer tools it should not (strip). Outside a git
# checkout (an unpacked source archive) the folder itself is copied, without its build/, and the
# release time must then come from SOURCE_DATE_EPOCH.
if git rev-parse -q --verify HEAD >/dev/null 2>&1; then
  unset SOURCE_DATE_EPOCH
  full=$(git rev-parse HEAD)
  commit=$(git rev-parse --short HEAD)
  [ -z "$(git status --porcelain --untracked-files=no)" ] || echo "check-reproducible: uncommitted changes are left out; checking $commit"
  export_tree() { git clone -q --no-checkout "$repo" "$1" && git -C "$1" checkout -q --detach "$full"; }
else
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-315532800}
  commit="the source folder"
  export_tree() { mkdir -p "$1" && tar -c --exclude=./build . | tar -x -C "$1"; }
fi

rm -rf "$base"
first=$base/a
second=$base/second-build/of-the-same-commit
started=$SECONDS
mkdir -p "$(dirname "$second")"
for tree in "$first" "$second"; do
  export_tree "$tree"
done

build() {
  local tree=$1
  shift
  (cd "$tree" && cmake --preset "$preset" "$@" >/dev/null &&
    nice -n 5 cmake --build --preset "$preset" -j"$(nproc)" --target kvx_release_files >"$tree/build.log" 2>&1) ||
    { echo "check-reproducible: the build in $tree failed:" >&2; tail -n 40 "$tree/build.log" >&2; exit 1; }
}

# compare MODE: every release file of the two trees; programs without their signatures when MODE is
# signed. Prints one line per file; returns 1 on any difference.
compare() {
  local mode=$1 status=0 zip name a b
  local dist_a=$first/build/$preset/dist dist_b=$second/build/$preset/dist
  local scratch=$base/compare-$mode
  rm -rf "$scratch"
  for zip in "$dist_a"/*.zip; do
    name=$(basename "$zip")
    if [ "$mode" = unsigned ]; then
      for a in "$zip" "$zip.spdx.json"; do
        b=$dist_b/$(basename "$a")
        if cmp -s "$a" "$b"; then
          printf '  identical  %s  %s\n' "$(sha256sum "$a" | cut -c1-16)" "$(basename "$a")"
        else
          printf '  DIFFERENT  %s\n' "$(basename "$a")"
          status=1
        fi
      done
      continue
    fi
    mkdir -p "$scratch/a/$name" "$scratch/b/$name"
    (cd "$scratch/a/$name" && cmake -E tar xf "$zip")
    (cd "$scratch/b/$name" && cmake -E tar xf "$dist_b/$name")
    for a in "$scratch/a/$name"/*; do
      b=$scratch/b/$name/$(basename "$a")
      case $a in
        *.exe | *.dll)
          osslsigncode remove-signature -in "$a" -out "$a.unsigned" >/dev/null
          osslsigncode remove-signature -in "$b" -out "$b.unsigned" >/dev/null
          a=$a.unsigned b=$b.unsigned ;;
      esac
      if cmp -s "$a" "$b"; then
        printf '  identical  %s  %s/%s\n' "$(sha256sum "$a" | cut -c1-16)" "$name" "$(basename "$a")"
      else
        printf '  DIFFERENT  %s/%s: %s\n' "$name" "$(basename "$a")" "$(cmp "$a" "$b" | head -n1)"
        status=1
      fi
    done
  done
  if [ "$mode" = unsigned ]; then
    if cmp -s "$dist_a/SHA256SUMS" "$dist_b/SHA256SUMS"; then
      echo "  identical  SHA256SUMS"
    else
      echo "  DIFFERENT  SHA256SUMS"
      status=1
    fi
  fi
  return $status
}

build "$first"
build "$second"
echo "check-reproducible: $commit built twice ($preset, signed) in $((SECONDS - started)) s: $first, $second"
echo "programs without their signatures, other files as packed:"
status=0
compare signed || status=1
build "$first" -DKVX_SIGN=OFF
build "$second" -DKVX_SIGN=OFF
echo "unsigned, as packed:"
compare unsigned || status=1
[ "${KVX_REPRO_KEEP:-0}" = 1 ] || rm -rf "$base"
if [ $status -eq 0 ]; then
  echo "check-reproducible: $commit is reproducible ($((SECONDS - started)) s in all)"
else
  echo "check-reproducible: $commit does NOT build reproducibly ($((SECONDS - started)) s in all)"
fi
exit $status
