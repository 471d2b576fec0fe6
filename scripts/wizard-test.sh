#!/usr/bin/env bash
# Runs the wizard's GoogleTest program on a private Xvfb display, once with a Spanish and once with an
# English system language, and turns the screenshots it takes into PNG files.
# Usage: wizard-test.sh BUILD_DIR TEST_PROGRAM.exe [extra GoogleTest arguments]
set -euo pipefail
build=$(cd "$1" && pwd)
program=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
prefix=$build/wineprefix
artifacts=$build/artifacts/${KVX_WIZARD_ARTIFACTS_NAME:-wizard}
rm -rf "$artifacts"
mkdir -p "$artifacts"

# Wine takes the system language from the Unix locale, but only from an installed one. Without the
# system's own es_ES/en_US UTF-8 locales, private copies are compiled into the build tree.
locpath=
have_locale() { locale -a 2>/dev/null | grep -qi "^$1\.utf-\?8$"; }
if ! have_locale es_ES || ! have_locale en_US; then
  locpath=$build/locale
  for l in es_ES en_US; do
    [ -d "$locpath/$l.UTF-8" ] || localedef -i "$l" -f UTF-8 "$locpath/$l.UTF-8" >/dev/null 2>&1 || true
  done
fi

# A display of our own: Xvfb picks a free number itself and writes it to a file, so two runs that
# start at the same moment (the i686 and x86_64 suites run side by side) never race for one.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  WINEPREFIX=$prefix PATH=/usr/lib/wine:$PATH wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -f "$displayfile"
}
trap cleanup EXIT
display=
for _ in $(seq 1 200); do
  display=$(tr -dc '0-9' <"$displayfile")
  [ -n "$display" ] && [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done
if [ -z "$display" ]; then
  echo "wizard-test: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$display"

windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's#/#\\#g')"; }
export KVX_WIZARD_ARTIFACTS
KVX_WIZARD_ARTIFACTS=$(windows_path "$artifacts")

status=0
run_pass() {
  local language=$1 locale=$2
  shift 2
  echo "== wizard tests, system language $language ($locale)"
  # A new wineserver per pass, so that nothing of the previous language stays cached.
  WINEPREFIX=$prefix PATH=/usr/lib/wine:$PATH wineserver -k >/dev/null 2>&1 || true
  if ! env ${locpath:+LOCPATH=$locpath} LANG="$locale" LC_ALL="$locale" KVX_WIZARD_LANG="$language" \
      bash "$here/wine-run.sh" "$prefix" "$program" \
      "--gtest_output=xml:$(windows_path "$artifacts/results-$language.xml")" "$@"; then
    status=1
  fi
}
# KVX_WIZARD_PASSES chooses the passes (default both), for a quicker run while developing.
passes=${KVX_WIZARD_PASSES:-es en}
case " $passes " in *" es "*) run_pass es es_ES.UTF-8 "$@" ;; esac
# In English: the walk with every text and picture (the pages at 96 and 144 DPI, the quick restart
# test for the countdown page,
# the start-up reboot question, and the endings that put the machine back);
# the other timing tests do not depend on the language.
case " $passes " in *" en "*)
  run_pass en en_US.UTF-8 --gtest_filter='WizardWalk.*:WizardDpi.*:WizardTiming.RestartNowEndsTheCountdownAtOnce:WizardSystem.StartUpSwitchesTheShieldOffAndCancelPutsEverythingBack:WizardRealCore.BasicAnalysisNotFixedNotFixedFixedThenThePackageIsSaved:WizardRealCoreReboot.EveryEndingWithoutAPendingAnalysisPutsTheMachineBack' "$@" ;;
esac

for bmp in "$artifacts"/*/*.bmp; do
  [ -f "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "wizard-test: screenshots and logs in $artifacts"
exit $status
