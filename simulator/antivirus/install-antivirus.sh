#!/usr/bin/env bash
# Installs a simulated Orvex antivirus into a Wine prefix, or removes it: the shield driver's service
# key AVGUARD1 with "Start" = 1 (started by the system at boot), the antivirus's Setup key with its
# installation directory in "PATH" (32-bit registry view, ending in a backslash), and HOSTGUARD.exe in
# that directory. Installing again puts everything back to that state, whatever a wizard run left
# (the shield switched off, HOSTGUARD.exe renamed).
#
#   install-antivirus.sh PREFIX [HOSTGUARD.exe]   default program: build/win32/bin/kvxsim/antivirus
#   install-antivirus.sh --remove PREFIX
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
runner=$here/../../scripts/wine-run.sh

usage() {
  sed -n '8,9p' "$0" >&2
  exit 2
}

action=install
if [ "${1:-}" = "--remove" ]; then
  action=remove
  shift
fi
[ $# -ge 1 ] || usage
prefix=$(realpath -m "$1")
exe=${2:-$here/../../build/win32/bin/kvxsim/antivirus/HOSTGUARD.exe}

service_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\AVGUARD1'
setup_key='HKEY_LOCAL_MACHINE\Software\Orvex Software\Setup'

# A prefix that wine-run.sh has not set up yet would be made anew later, wiping what is put in here.
"$runner" "$prefix" true

# A 32-bit antivirus on 64-bit Windows lives under "Program Files (x86)".
programs="Program Files"
[ -d "$prefix/drive_c/Program Files (x86)" ] && programs="Program Files (x86)"
unix_dir="$prefix/drive_c/$programs/Orvex Software/Orvex HostGuard"
win_dir="C:\\$programs\\Orvex Software\\Orvex HostGuard\\"

# One import per registry view: every Wine command costs about a second.
reg_import() {
  local view=$1 file
  file=$(mktemp --suffix=.reg)
  { printf 'REGEDIT4\r\n\r\n'; sed 's/$/\r/'; } >"$file"
  local status=0
  "$runner" "$prefix" wine reg import "Z:${file//\//\\}" /reg:"$view" >/dev/null 2>&1 || status=$?
  rm -f "$file"
  return $status
}

# Backslashes doubled, as .reg strings want them.
reg_string() { printf '"%s"' "${1//\\/\\\\}"; }

case $action in
  install)
    if [ ! -f "$exe" ]; then
      echo "install-antivirus: no HOSTGUARD.exe at $exe (build the kvxsim_hostguard target)" >&2
      exit 1
    fi
    mkdir -p "$unix_dir"
    rm -f "$unix_dir/HOSTGUARD.exe.kvxdiag2"
    cp -f "$exe" "$unix_dir/HOSTGUARD.exe"
    {
      printf '[%s]\n' "$service_key"
      printf '"Type"=dword:00000001\n"ErrorControl"=dword:00000001\n"Start"=dword:00000001\n'
      printf '"ImagePath"=%s\n' "$(reg_string 'System32\drivers\avguard1.sys')"
      printf '"DisplayName"="Orvex HostGuard Shield"\n\n'
    } | reg_import 64
    printf '[%s]\n"PATH"=%s\n\n' "$setup_key" "$(reg_string "$win_dir")" | reg_import 32
    "$runner" "$prefix" wineserver -w
    echo "install-antivirus: shield AVGUARD1 on (Start=1), HOSTGUARD.exe in $win_dir"
    ;;
  remove)
    printf '[-%s]\n\n' "$service_key" | reg_import 64
    printf '[-%s]\n\n' "$setup_key" | reg_import 32
    rm -rf "$unix_dir"
    rmdir "$prefix/drive_c/$programs/Orvex Software" 2>/dev/null || true
    "$runner" "$prefix" wineserver -w
    echo "install-antivirus: removed"
    ;;
esac
