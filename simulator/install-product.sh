#!/usr/bin/env bash
# Installs a simulated Orvex Network Manager into the Wine prefix of a build tree, or removes it:
# the product key with MainPath (32-bit registry view), the SDK double of the build's bitness in the
# product directory, and the product's driver services with their "Start" values. The test programs
# use the C++ fixture (tests/support/SimProduct.h) instead; this script is for runs of the wizard and
# the core by hand or from other scripts.
#
#   install-product.sh install BUILD_DIR [--sdk 32|32nover|33|40|41] [--im] [--start NAME=VALUE]...
#                                        [--prefix DIR]
#   install-product.sh remove  BUILD_DIR [--prefix DIR]
#
#   --sdk     the SDK generation of the double (default 40)
#   --im      install the NDIS intermediate driver "KVXIMD" instead of the NDIS manager "KVXNMGR"
#   --start   a service's "Start" value (defaults: managers and monitor 1, plug-in filters 3)
#   --prefix  the Wine prefix to install into (default: the build tree's own, BUILD_DIR/wineprefix)
set -euo pipefail

usage() {
  sed -n '8,16p' "$0" >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
build=$(cd "$2" && pwd)
shift 2

sdk=40
manager=KVXNMGR
prefix=$build/wineprefix
declare -A start=([KVXTMGR]=1 [KVXNMGR]=1 [KVXIMD]=1 [KVXMON]=1
                  [KVXFLTA]=3 [KVXFLTB]=3 [KVXFLTC]=3 [KVXFLTD]=3 [KVXFLTE]=3 [KVXFLTF]=3)
while [ $# -gt 0 ]; do
  case $1 in
    --sdk) sdk=$2; shift 2 ;;
    --im) manager=KVXIMD; shift ;;
    --start) start[${2%%=*}]=${2#*=}; shift 2 ;;
    --prefix) prefix=$(realpath -m "$2"); shift 2 ;;
    *) usage ;;
  esac
done

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export PATH=/usr/lib/wine:$PATH
runner=$(dirname "$0")/../scripts/wine-run.sh

product_key='HKEY_LOCAL_MACHINE\Software\Orvex Software\Orvex Network Manager'
sim_key='HKEY_LOCAL_MACHINE\Software\KVXSimulator'
services_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services'
services=(KVXTMGR KVXNMGR KVXIMD KVXMON KVXFLTA KVXFLTB KVXFLTC KVXFLTD KVXFLTE KVXFLTF)

# Each Wine command costs seconds on a busy machine, so all keys of a view go in one import.
reg_import() {
  local view=$1 file
  file=$(mktemp --suffix=.reg)
  { printf 'REGEDIT4\r\n\r\n'; cat | sed 's/$/\r/'; } >"$file"
  "$runner" "$WINEPREFIX" wine reg import "Z:${file//\//\\}" /reg:"$view" >/dev/null 2>&1 || true
  rm -f "$file"
}

remove() {
  {
    printf '[-%s]\n\n' "$sim_key"
    printf '[%s]\n"MainPath"=-\n\n' "$product_key"
  } | reg_import 32
  for s in "${services[@]}"; do
    printf '[-%s\\%s]\n\n' "$services_key" "$s"
  done | reg_import 64
  # The double writes its captures into the native drivers directory.
  rm -f "$WINEPREFIX"/drive_c/windows/system32/drivers/KVXIMD_*.*
  for dir in "Program Files" "Program Files (x86)"; do
    rm -rf "$WINEPREFIX/drive_c/$dir/Orvex Software/Orvex Network Manager"
    rmdir "$WINEPREFIX/drive_c/$dir/Orvex Software" 2>/dev/null || true
  done
}

# Backslashes doubled, as .reg strings want them.
reg_string() { printf '"%s"' "${1//\\/\\\\}"; }

install() {
  local dll=$build/bin/kvxsim/sdk$sdk/kvxapi.dll
  [ -f "$dll" ] || { echo "no SDK double at $dll (build the kvxsim_kvxapi target)" >&2; exit 1; }
  remove
  # A 32-bit double goes where a 32-bit product installs on 64-bit Windows.
  local programs="Program Files"
  if file -b "$dll" | grep -q 'PE32 '; then
    programs="Program Files (x86)"
  fi
  local unix_dir="$WINEPREFIX/drive_c/$programs/Orvex Software/Orvex Network Manager"
  local win_dir="C:\\$programs\\Orvex Software\\Orvex Network Manager\\"
  mkdir -p "$unix_dir"
  cp "$dll" "$unix_dir/kvxapi.dll"
  {
    printf '[%s]\n"MainPath"=%s\n\n' "$product_key" "$(reg_string "$win_dir")"
    printf '[%s]\n"ProductDir"=%s\n\n' "$sim_key" "$(reg_string "$win_dir")"
  } | reg_import 32
  for s in KVXTMGR "$manager" KVXMON KVXFLTA KVXFLTB KVXFLTC KVXFLTD KVXFLTE KVXFLTF; do
    printf '[%s\\%s]\n' "$services_key" "$s"
    printf '"Type"=dword:00000001\n"ErrorControl"=dword:00000001\n'
    printf '"Start"=dword:%08x\n' "${start[$s]}"
    printf '"ImagePath"=%s\n' "$(reg_string "System32\\drivers\\$(echo "$s" | tr '[:upper:]' '[:lower:]').sys")"
    printf '"DisplayName"="Orvex %s"\n\n' "$s"
  done | reg_import 64
  "$runner" "$WINEPREFIX" wineserver -w
  echo "installed SDK $sdk double in $win_dir"
}

case $action in
  install) install ;;
  remove) remove; "$runner" "$WINEPREFIX" wineserver -w ;;
  *) usage ;;
esac
