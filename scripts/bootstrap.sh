#!/usr/bin/env bash
# Installs everything the project needs from Debian's packages. Idempotent, and quick when all is
# already present (one dpkg query, no apt run).
set -euo pipefail

packages=(
  cmake ninja-build file python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386
  xvfb x11-apps x11-utils imagemagick
  googletest zlib1g-dev libdeflate-dev clang libclang-rt-14-dev
  libz-mingw-w64-dev nlohmann-json3-dev libssl-dev
  unzip zip 7zip libarchive-tools
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The wizard is tested in Spanish and in English; Wine takes the system language from the Unix
# locale only when that locale exists.
if ! locale -a 2>/dev/null | grep -qi '^es_ES\.utf-\?8$' || ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  for l in es_ES en_US; do
    if ! grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  done
  $SUDO locale-gen >/dev/null
fi
echo "bootstrap: all dependencies present"
