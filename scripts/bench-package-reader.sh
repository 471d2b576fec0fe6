#!/usr/bin/env bash
# Benchmark of kvxinspect on a package of about 100 MB: a results folder is generated (a report of the
# main job's shape repeated, logs, and incompressible captures), packed with kvxzip and the package
# password, and kvxinspect (native-release) reads it RUNS times; the median wall and CPU time and the
# peak resident memory are printed.
#   scripts/bench-package-reader.sh [RUNS]       (default 5; KVX_BENCH_DIR, default build/package-reader-bench)
# KVX_BENCH_INSPECT=PATH measures another kvxinspect (an older build, for a before/after comparison) on the
# same package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
work=${KVX_BENCH_DIR:-$root/build/package-reader-bench}
build=$root/build/native-release
cmake --preset native-release -S "$root" >/dev/null
cmake --build "$build" --target kvxinspect kvxzip >/dev/null
package=$work/package.zip
if [ ! -f "$package" ]; then
  src=$work/results
  rm -rf "$src"
  mkdir -p "$src/BasicAnalisys/KVXFLTF/Pre" "$src/BasicAnalisys/KVXFLTF/Post" "$src/DataGathering/StaticData"
  python3 - "$src" <<'PY'
import os, random, sys
src = sys.argv[1]
rnd = random.Random(15)
# Text that deflates like real logs (about 4:1) and captures that do not deflate at all.
words = ["filter", "KVXFLTF", "packet", "allow", "block", "192.0.2.%d", "route", "session", "tcp", "udp"]
def text(n):
    out, size = [], 0
    while size < n:
        line = "09-12-2026 10:%02d:%02d\t\t" % (rnd.randrange(60), rnd.randrange(60)) + " ".join(
            (w % rnd.randrange(255)) if "%" in w else w for w in rnd.sample(words, 6)) + " %08x\n" % rnd.getrandbits(32)
        out.append(line); size += len(line)
    return "".join(out).encode()
with open(os.path.join(src, "KVXDiagReport.txt"), "wb") as f:
    f.write(text(8 << 20))
for i in range(4):
    with open(os.path.join(src, "BasicAnalisys/KVXFLTF/KVXNDISKrnModules%d.etl" % i), "wb") as f:
        f.write(text(24 << 20))
for i in range(3):
    with open(os.path.join(src, "BasicAnalisys/KVXFLTF/KVXIMD_%04d.KVXPcapTmp" % i), "wb") as f:
        f.write(rnd.randbytes(22 << 20))
for side in ("Pre", "Post"):
    with open(os.path.join(src, "BasicAnalisys/KVXFLTF/%s/KVXSnapshot.txt" % side), "wb") as f:
        f.write(text(200 << 10))
PY
  "$build/tools/kvxzip/kvxzip" -p tarsk-708 "$package" "$src"
fi
echo "bench-package-reader: package $(stat -c %s "$package") bytes, $(unzip -l "$package" | tail -1 | awk '{print $1}') bytes inside"
# Wall time and CPU time (user + system) per run: on a shared machine the CPU time is the steadier figure.
inspect=${KVX_BENCH_INSPECT:-$build/tools/packagereader/kvxinspect}
walls=()
cpus=()
peaks=()
for i in $(seq "$runs"); do
  start=$(date +%s%N)
  cpu=$( { /usr/bin/time -f "%U %S %M" "$inspect" --json "$package" >/dev/null; } 2>&1 | tail -1)
  end=$(date +%s%N)
  walls+=($(( (end - start) / 1000000 )))
  cpus+=($(echo "$cpu" | awk '{printf "%d", ($1 + $2) * 1000}'))
  peaks+=($(echo "$cpu" | awk '{printf "%d", $3 / 1024}'))
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
echo "bench-package-reader: wall ms $(printf '%s ' "${walls[@]}")-> median $(median "${walls[@]}") ms"
echo "bench-package-reader: cpu ms  $(printf '%s ' "${cpus[@]}")-> median $(median "${cpus[@]}") ms (load $(cut -d' ' -f1 /proc/loadavg))"
# Resident memory includes the mapped package pages the reading touched (they are the file's, not the heap's).
echo "bench-package-reader: peak RSS MB $(printf '%s ' "${peaks[@]}")-> median $(median "${peaks[@]}") MB"
