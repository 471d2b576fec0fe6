#!/usr/bin/env bash
# Installs the network configuration engine double into a Wine prefix, or takes it out again.
#
#   sim-netcfg.sh install   PREFIX BIN32 [BIN64]  copy the double and its control program from the bin
#                                                 directories of a win32 (and win64) build into the
#                                                 prefix, register it for CLSID_CNetCfg in the 32-bit
#                                                 (and 64-bit) registry view, and seed a typical machine
#   sim-netcfg.sh uninstall PREFIX                give CLSID_CNetCfg back to Wine's engine in both views,
#                                                 remove the model and the copied files
#   sim-netcfg.sh seed      PREFIX                replace the model with the typical machine
#   sim-netcfg.sh clear     PREFIX                remove the model
#
# Registration is done by the control program itself: a 32-bit process writes the 32-bit view and a
# 64-bit one the 64-bit view, which is where COM looks for clients of each bitness.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
run=$here/wine-run.sh

usage() {
  sed -n '2,13p' "$0" >&2
  exit 2
}

[ $# -ge 2 ] || usage
command=$1
prefix=$(realpath -m "$2")
simdir=$prefix/drive_c/KVXSim/netcfg

ctl() { # ctl ARCH ARGS...
  local arch=$1
  shift
  local exe=$simdir/$arch/kvxsimnetcfgctl.exe
  [ -f "$exe" ] || { echo "sim-netcfg: $exe is not installed" >&2; return 1; }
  "$run" "$prefix" "$exe" "$@"
}

installed_archs() {
  for arch in x86 x64; do
    [ -f "$simdir/$arch/kvxsimnetcfgctl.exe" ] && echo "$arch"
  done
  return 0
}

case $command in
  install)
    [ $# -ge 3 ] || usage
    # A prefix that wine-run.sh has not set up yet would be made anew, wiping what is copied below.
    "$run" "$prefix" true
    bins=("$3" "${4:-}")
    archs=(x86 x64)
    for i in 0 1; do
      bin=${bins[$i]}
      [ -n "$bin" ] || continue
      arch=${archs[$i]}
      for f in kvxsimnetcfg.dll kvxsimnetcfgctl.exe; do
        [ -f "$bin/$f" ] || { echo "sim-netcfg: $bin/$f not found (build the $arch tree first)" >&2; exit 1; }
      done
      mkdir -p "$simdir/$arch"
      cp "$bin/kvxsimnetcfg.dll" "$bin/kvxsimnetcfgctl.exe" "$simdir/$arch/"
      # The control program registers the DLL beside itself.
      ctl "$arch" register
      echo "sim-netcfg: registered the $arch double from $simdir/$arch"
    done
    ctl "$(installed_archs | head -n1)" seed
    echo "sim-netcfg: seeded the typical machine"
    ;;
  uninstall)
    archs=$(installed_archs)
    for arch in $archs; do
      ctl "$arch" unregister
    done
    if [ -n "$archs" ]; then
      ctl "$(echo "$archs" | head -n1)" clear
    fi
    rm -rf "$simdir"
    echo "sim-netcfg: removed"
    ;;
  seed | clear)
    arch=$(installed_archs | head -n1)
    [ -n "$arch" ] || { echo "sim-netcfg: not installed in $prefix" >&2; exit 1; }
    ctl "$arch" "$command"
    ;;
  *)
    usage
    ;;
esac
