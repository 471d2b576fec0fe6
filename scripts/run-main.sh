#!/usr/bin/env bash
# The main job: installs what the machine lacks, builds the 32-bit deliverables, and runs the wizard
# against a simulated Orvex Network Manager and a simulated Orvex antivirus in a private Wine prefix.
#
# With a reachable display ($DISPLAY) the wizard is shown for a person to use. Without one, a private
# Xvfb display is started and a scripted user walks the wizard through a basic analysis: it answers
# Cancel to the start-up reboot question (so nothing is rebooted and the antivirus is restored), accepts
# the agreement, enters an incident, answers "not fixed" and then "fixed", saves the package, closes the
# wizard on its last page (Cancel to the closing reboot question), and prints where the package, the
# report and the screenshots are, and ends with kvxinspect's summary of the package. Every run starts
# from the same state; a second run reuses the prefix.
#
# The wizard that runs is the one customers get: stripped and signed, from the distributable package's
# folder (build/win32/dist/KVXDiag2-<version>-win32), with the library beside it.
#
# Environment (all optional):
#   KVX_MAIN_BUILD     build tree (default build/win32)
#   KVX_MAIN_PREFIX    Wine prefix (default build/main-prefix)
#   KVX_MAIN_OUT       where the package, report and screenshots go (default build/main-run)
#   KVX_MAIN_LANG      es or en, the system language the wizard sees (default es)
#   KVX_MAIN_HEADLESS  1: the scripted run even when a display is available
#   KVX_MAIN_WIZARD    the wizard to run (default the packaged one; $build/bin/KVXDiag2.exe keeps its
#                      symbols, for a debugger)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
started=$(date +%s%N)

bash scripts/bootstrap.sh

build=$(realpath -m "${KVX_MAIN_BUILD:-$repo/build/win32}")
prefix=$(realpath -m "${KVX_MAIN_PREFIX:-$repo/build/main-prefix}")
out=$(realpath -m "${KVX_MAIN_OUT:-$repo/build/main-run}")
language=${KVX_MAIN_LANG:-es}
run=$repo/scripts/wine-run.sh

# --- Build: only what the run needs (the deliverables, the doubles, the UI driver, support's reader)
# and the release files (both packages, their bills of materials, SHA256SUMS).
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target KVXDiag2 KVXDiagCore kvx_release_files kvxuidriver kvxsimnetcfg \
  kvxsimnetcfgctl kvxsim_kvxapi kvx_console_standins kvxsim_hostguard kvxinspect

# --- The simulated machine. Each installer puts its part back to the installed state, whatever a
# previous run left, so the prefix is reused as it is.
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} PATH=/usr/lib/wine:$PATH
"$run" "$prefix" true # makes the prefix on first use
wineserver -k >/dev/null 2>&1 || true # nothing of an earlier run stays cached (language, windows)
wineserver -w
# The console programs of a basic analysis are stand-ins that never touch the network (the prefix
# already prefers them to Wine's own); the wizard and the core are 32-bit, hence the WoW64 directory.
for exe in "$build"/simulator/consoletools/*.exe; do
  target=$prefix/drive_c/windows/syswow64/$(basename "$exe")
  cmp -s "$exe" "$target" 2>/dev/null || cp -f "$exe" "$target"
done
bash simulator/install-product.sh install "$build" --prefix "$prefix"
bash scripts/sim-netcfg.sh install "$prefix" "$build/bin"
bash simulator/antivirus/install-antivirus.sh "$prefix" "$build/bin/kvxsim/antivirus/HOSTGUARD.exe"

# The wizard's own traces of an earlier run: its registry state, its autostart value, the results
# directories (a new run would otherwise get KVXDIAG2-Results_ and so on) and the copies that pack and
# send leaves in the temporary directory (named by the tick count, holding a copy of the report).
reg_file=$(mktemp --suffix=.reg)
printf 'REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Orvex Software\\Orvex Network Manager\\KVXDIAG2]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"KVXDIAG2_AUTOSTART"=-\r\n\r\n' >"$reg_file"
for view in 32 64; do
  wine reg import "Z:${reg_file//\//\\}" /reg:$view >/dev/null 2>&1 || true
done
rm -f "$reg_file"
find "$prefix/drive_c/users" -maxdepth 5 -type d -name 'KVXDIAG2-Results*' -prune -exec rm -rf {} + 2>/dev/null || true
find "$prefix/drive_c/users" -maxdepth 6 -type f -path '*/Temp/[0-9]*/KVXDiagReport.txt' -printf '%h\0' 2>/dev/null |
  xargs -0 -r rm -rf
wineserver -w

# --- The system language: Wine takes it from the Unix locale, but only from an installed one.
case $language in
  en) locale_name=en_US ;;
  *) locale_name=es_ES ;;
esac
locpath=
if ! locale -a 2>/dev/null | grep -qi "^$locale_name\.utf-\?8$"; then
  locpath=$build/locale
  [ -d "$locpath/$locale_name.UTF-8" ] || localedef -i "$locale_name" -f UTF-8 "$locpath/$locale_name.UTF-8" >/dev/null 2>&1 || true
fi
export LANG=$locale_name.UTF-8 LC_ALL=$locale_name.UTF-8
[ -n "$locpath" ] && export LOCPATH=$locpath

wizard=$(realpath -m "${KVX_MAIN_WIZARD:-$(ls "$build"/dist/KVXDiag2-*-win32/KVXDiag2.exe | head -n1)}")
results_dir() { find "$prefix/drive_c/users" -maxdepth 5 -type d -name 'KVXDIAG2-Results*' 2>/dev/null | sort | tail -n1; }
elapsed() {
  local ms=$((($(date +%s%N) - started) / 1000000))
  printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100))
}

# --- A person at a display: the wizard is theirs to use.
if [ "${KVX_MAIN_HEADLESS:-0}" != 1 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "run-main: starting the wizard on $DISPLAY (prefix $prefix)"
  "$run" "$prefix" "$wizard" || true
  wineserver -w
  dir=$(results_dir)
  echo "run-main: the wizard has ended after $(elapsed) s"
  [ -n "$dir" ] && echo "run-main: report and log in $dir"
  exit 0
fi

# --- No display: a private Xvfb display and the scripted user.
display=
for n in $(seq 91 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
    display=$n
    break
  fi
done
[ -n "$display" ] || { echo "run-main: no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wizard_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$wizard_pid" ] && wait "$wizard_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 200); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done
export DISPLAY=":$display"

rm -rf "$out"
mkdir -p "$out/screenshots"
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }
incident=INC-MAIN-0001
package=$out/KVXDiag2-$incident.zip
picture() { windows_path "$out/screenshots/$1.bmp"; }

echo "run-main: starting the wizard on the private display :$display (system language $language)"
"$run" "$prefix" "$wizard" >"$out/wizard-console.log" 2>&1 &
wizard_pid=$!

# One driver run for the whole walk; its first failing step stops it and is named on stderr. The
# start-up question comes only when the wizard switched the antivirus off, before its window shows.
steps=(
  startup-box cancel 60000
  find 60000
  wait-page 0 shot "$(picture 01-welcome)"
  click btNext wait-page 1
  click cbLicenseAccept shot "$(picture 02-agreement)"
  click btNext wait-page 2
  set-text edIssueNumber "$incident"
  set-text reUserIssueDescription "Sin acceso a Internet desde las 9:00 / No Internet access since 9:00."
  shot "$(picture 03-incident)"
  click btNext wait-page 7 shot "$(picture 04-before-analysis)"
  post-click btNext
  wait-page 10 240000 shot "$(picture 05-question)"
  answer-basic not-fixed 240000
  wait-page 10 240000
  answer-basic fixed 240000
  wait-page 16 240000 shot "$(picture 06-solved)"
  click btNext wait-page 19
  set-text edResultsPackDestination "$(windows_path "$package")"
  shot "$(picture 07-save)"
  post-click btNext
  wait-page 20 240000 shot "$(picture 08-end)"
  post-click btCancel
  answer-box-if cancel 15000
  wait-exit 60000
)
status=0
"$run" "$prefix" "$build/bin/kvxuidriver.exe" "${steps[@]}" >"$out/driver.log" 2>&1 || status=$?
startup_answer=$(head -n1 "$out/driver.log")
if [ "$startup_answer" = "no box" ]; then
  startup_answer="not asked"
else
  startup_answer="asked (\"$startup_answer...\"), answered Cancel"
fi

for bmp in "$out"/screenshots/*.bmp; do
  [ -f "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
dir=$(results_dir)
if [ -n "$dir" ]; then
  cp -f "$dir/KVXDiagReport.txt" "$out/" 2>/dev/null || true
  cp -f "$dir/KVXDiagLog.dat" "$out/" 2>/dev/null || true
fi

if [ $status -ne 0 ]; then
  echo "run-main: the scripted walk failed after $(elapsed) s:" >&2
  cat "$out/driver.log" >&2
  import -display ":$display" -window root "$out/screenshots/failure.png" 2>/dev/null || true
  echo "run-main: screenshots in $out/screenshots, wizard log in $out/KVXDiagLog.dat" >&2
  exit 1
fi

echo "run-main: start-up reboot question: $startup_answer"
echo "run-main: done in $(elapsed) s"
echo "  package      $package"
echo "  report       $out/KVXDiagReport.txt (results directory in the prefix: $dir)"
echo "  wizard log   $out/KVXDiagLog.dat"
echo "  screenshots  $out/screenshots/"
echo "  wizard run   $wizard"
echo "  release      $(ls "$build"/dist/*.zip | tr '\n' ' ')(SHA256SUMS and bills of materials beside them)"

# What support will see of it: support's own tool reads the package without unpacking it.
if [ ! -f "$package" ]; then
  echo "run-main: the wizard saved no package at $package" >&2
  exit 1
fi
echo
echo "run-main: kvxinspect's summary of the package:"
# Support's copy, signed, from its own package's folder; run beside the package, which it then names
# by its file name alone, as a support engineer would see it.
reader=$(ls "$build"/dist/kvxinspect-*-win32/kvxinspect.exe | head -n1)
(cd "$(dirname "$package")" && "$run" "$prefix" "$reader" "$(basename "$package")") 2>&1 | tr -d '\r' || true
