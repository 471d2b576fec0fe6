#!/usr/bin/env bash
# Runs a Windows program under Wine in the private prefix of one build tree, creating that prefix on
# first use. Usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
# Wine looks for its binaries on PATH; Debian keeps the loaders in /usr/lib/wine.
export PATH=/usr/lib/wine:$PATH

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.kvx-ready" ]; then
  rm -rf "$prefix"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  # No crash dialog (a crashing test must fail, not hang) and frames drawn by Wine itself.
  for view in 32 64; do
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f /reg:$view >/dev/null 2>&1 || true
  done
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  wineserver -w
  touch "$prefix/.kvx-ready"
fi
# Our console stand-ins replace Wine's own ping (which could send packets) and fill the gaps; the list
# grew after prefixes were made, hence its own marker.
if [ ! -f "$prefix/.kvx-standins-3" ]; then
  for exe in route nbtstat nslookup driverquery ping ipconfig netsh systeminfo wevtutil fltmc auditpol; do
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v "$exe.exe" /d native /f >/dev/null 2>&1 || true
  done
  wineserver -w
  touch "$prefix/.kvx-standins-3"
fi
# A test prefix never runs the real network programs: the build tree's stand-ins are copied into the
# system directory of their bitness whenever they are newer than what the prefix holds. A 32-bit build
# reaches the native programs through Sysnative, which is system32, so its stand-ins go there too.
standins=$(dirname "$prefix")/simulator/consoletools
if [ -d "$standins" ]; then
  for exe in "$standins"/*.exe; do
    [ -f "$exe" ] || continue
    if file -b "$exe" | grep -q 'PE32+'; then sysdir=system32; else sysdir=syswow64; fi
    target="$prefix/drive_c/windows/$sysdir/$(basename "$exe")"
    cmp -s "$exe" "$target" 2>/dev/null || cp -f "$exe" "$target"
    if [ $sysdir = syswow64 ]; then
      target="$prefix/drive_c/windows/system32/$(basename "$exe")"
      cmp -s "$exe" "$target" 2>/dev/null || cp -f "$exe" "$target"
    fi
  done
fi
flock -u 9

case "${1:-}" in
  *.exe|*.EXE) ;;
  *) exec "$@" ;; # a host tool (script, cmake -P) that wants the same prefix environment
esac
exe=$1
shift
# Debian's "wine" wrapper starts the 32-bit loader; a 64-bit program needs wine64.
if file -b "$exe" | grep -q 'PE32+'; then
  loader=wine64
else
  loader=wine
fi
exec "$loader" "$exe" "$@"
