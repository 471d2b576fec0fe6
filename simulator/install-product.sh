#!/usr/bin/env bash
# Installs a simulated Orvex Network Manager into the Wine prefix of a build tree, or removes it:
# the product key with MainPath (32-bit registry view), the SDK double of the build's bitness in the
# product directory, and the product's driver services with their "Start" values. The test programs
# use the C++ fixture (tests/support/SimProduct.h) instead; this script is for runs of the wizard and
# the core by hand or from other scripts.
#
#   install-product.sh install BUILD_DIR [--sdk 32|32nover|33|40|41] [--im] [--start NAME=VALUE]...
#   install-product.sh remove  BUILD_DIR
#
#   --sdk     the SDK generation of the double (default 40)
#   --im      install the NDIS intermediate driver "KVXIMD" instead of the NDIS manager "KVXNMGR"
#   --start   a service's "Start" value (defaults: managers and monitor 1, plug-in filters 3)
set -euo pipefail

usage() {
  sed -n '8,14p' "$0" >&2
  exit 2
}

[ $# -ge 2 ] || usage
action=$1
build=$(cd "$2" && pwd)
shift 2

sdk=40
manager=KVXNMGR
declare -A start=([KVXTMGR]=1 [KVXNMGR]=1 [KVXIMD]=1 [KVXMON]=1
                  [KVXFLTA]=3 [KVXFLTB]=3 [KVXFLTC]=3 [KVXFLTD]=3 [KVXFLTE]=3 [KVXFLTF]=3)
while [ $# -gt 0 ]; do
  case $1 in
    --sdk) sdk=$2; shift 2 ;;
    --im) manager=KVXIMD; shift ;;
    --start) start[${2%%=*}]=${2#*=}; shift 2 ;;
    *) usage ;;
  esac
done

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export PATH=/usr/lib/wine:$PATH
runner=$(dirname "$0")/../scripts/wine-run.sh

product_key='HKLM\Software\Orvex Software\Orvex Network Manager'
sim_key='HKLM\Software\KVXSimulator'
services_key='HKLM\SYSTEM\CurrentControlSet\Services'
services=(KVXTMGR KVXNMGR KVXIMD KVXMON KVXFLTA KVXFLTB KVXFLTC KVXFLTD KVXFLTE KVXFLTF)

reg() { "$runner" "$WINEPREFIX" wine reg "$@" >/dev/null 2>&1; }

remove() {
  reg delete "$sim_key" /f /reg:32 || true
  reg delete "$product_key" /v MainPath /f /reg:32 || true
  for s in "${services[@]}"; do
    reg delete "$services_key\\$s" /f /reg:64 || true
  done
  # The double writes its captures into the native drivers directory.
  rm -f "$WINEPREFIX"/drive_c/windows/system32/drivers/KVXIMD_*.*
  for dir in "Program Files" "Program Files (x86)"; do
    rm -rf "$WINEPREFIX/drive_c/$dir/Orvex Software/Orvex Network Manager"
  done
}

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
  reg add "$product_key" /v MainPath /t REG_SZ /d "$win_dir" /f /reg:32
  reg add "$sim_key" /v ProductDir /t REG_SZ /d "$win_dir" /f /reg:32
  for s in KVXTMGR "$manager" KVXMON KVXFLTA KVXFLTB KVXFLTC KVXFLTD KVXFLTE KVXFLTF; do
    local key="$services_key\\$s"
    local image
    image="System32\\drivers\\$(echo "$s" | tr '[:upper:]' '[:lower:]').sys"
    reg add "$key" /v Type /t REG_DWORD /d 1 /f /reg:64
    reg add "$key" /v Start /t REG_DWORD /d "${start[$s]}" /f /reg:64
    reg add "$key" /v ErrorControl /t REG_DWORD /d 1 /f /reg:64
    reg add "$key" /v ImagePath /t REG_EXPAND_SZ /d "$image" /f /reg:64
    reg add "$key" /v DisplayName /t REG_SZ /d "Orvex $s" /f /reg:64
  done
  "$runner" "$WINEPREFIX" wineserver -w
  echo "installed SDK $sdk double in $win_dir"
}

case $action in
  install) install ;;
  remove) remove; "$runner" "$WINEPREFIX" wineserver -w ;;
  *) usage ;;
esac
