#!/usr/bin/env bash
# Checks scripts/bootstrap.sh against a mirror caught mid-sync, without touching this machine's apt:
# everything runs in a throw-away apt root (-o Dir=) over a local file repository, and the installs are
# simulated (apt resolves them as it would, dpkg is never called).
#
# The repository has a main suite with kvxprobe 1.0 and a security suite with kvxprobe 1.1, each for
# amd64 and i386 (Multi-Arch: same, so both architectures must have one version). When the security
# suite's i386 index fails to download, apt sees 1.1 for amd64 and only 1.0 for i386, and installing
# both architectures fails with "held broken packages": the case the fallback is for. It needs the
# machine to hold the security suite's amd64 index from before i386 was added (apt keeps a suite's old
# indexes when one of its new ones fails); without that, the whole suite is simply missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
repo=$root/repo

# deb NAME VERSION ARCH: a minimal binary package in the pool.
deb() {
  local d=$root/src/$1-$2-$3
  mkdir -p "$d/DEBIAN" "$repo/pool"
  printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\nMaintainer: KVX <kvx@example.invalid>\nDescription: probe\n' \
    "$1" "$2" "$3" >"$d/DEBIAN/control"
  dpkg-deb -Zgzip --build "$d" "$repo/pool/$1_$2_$3.deb" >/dev/null
}
# index SUITE ARCH DEB...: the Packages file of one suite and architecture.
index() {
  local suite=$1 arch=$2 f
  shift 2
  mkdir -p "$repo/dists/$suite/main/binary-$arch"
  : >"$repo/dists/$suite/main/binary-$arch/Packages"
  for f in "$@"; do
    { dpkg-deb -f "$repo/pool/$f"
      printf 'Filename: pool/%s\nSize: %s\nSHA256: %s\n\n' "$f" "$(stat -c %s "$repo/pool/$f")" \
        "$(sha256sum "$repo/pool/$f" | cut -d' ' -f1)"; } >>"$repo/dists/$suite/main/binary-$arch/Packages"
  done
}
release() {
  local suite=$1 f
  { printf 'Suite: %s\nCodename: %s\nArchitectures: amd64 i386\nComponents: main\nDate: %s\nSHA256:\n' \
      "$suite" "$suite" "$(LC_ALL=C date -u -R)"
    for f in main/binary-amd64/Packages main/binary-i386/Packages; do
      printf ' %s %s %s\n' "$(sha256sum "$repo/dists/$suite/$f" | cut -d' ' -f1)" \
        "$(stat -c %s "$repo/dists/$suite/$f")" "$f"
    done; } >"$repo/dists/$suite/Release"
}

deb kvxprobe 1.0 amd64
deb kvxprobe 1.0 i386
deb kvxprobe 1.1 amd64
deb kvxprobe 1.1 i386
index stable amd64 kvxprobe_1.0_amd64.deb
index stable i386 kvxprobe_1.0_i386.deb
index stable-security amd64 kvxprobe_1.1_amd64.deb
index stable-security i386 kvxprobe_1.1_i386.deb
release stable
release stable-security

apt_root=$root/apt
mkdir -p "$apt_root/etc/apt/sources.list.d" "$apt_root/etc/apt/apt.conf.d" "$apt_root/etc/apt/preferences.d" \
  "$apt_root/var/lib/dpkg" "$apt_root/var/lib/apt/lists/partial" "$apt_root/var/cache/apt/archives/partial"
: >"$apt_root/var/lib/dpkg/status"
# Both formats of sources, the same suite in both: the fallback must drop it from either.
cat >"$apt_root/etc/apt/sources.list.d/test.sources" <<EOF
Types: deb
URIs: file:$repo
Suites: stable stable-security
Components: main
Trusted: yes
EOF
echo "deb [trusted=yes] file:$repo stable-security main" >"$apt_root/etc/apt/sources.list.d/security.list"
base="-o Dir=$apt_root -o Dir::State::status=$apt_root/var/lib/dpkg/status -o APT::Get::Simulate=true
  -o Debug::NoLocking=true -o APT::Architecture=amd64 -o APT::Architectures::=amd64"
options="$base -o APT::Architectures::=i386"

failures=0
# check NAME EXPECTED-STATUS PATTERN...: runs the bootstrap on a machine whose indexes are those of an
# amd64-only update; its status and each pattern must match.
check() {
  local name=$1 expected=$2 status=0 pattern
  shift 2
  rm -rf "$apt_root/var/lib/apt/lists"
  mkdir -p "$apt_root/var/lib/apt/lists/partial"
  # shellcheck disable=SC2086
  apt-get $base update >/dev/null 2>&1 || true
  KVX_BOOTSTRAP_PACKAGES="kvxprobe:amd64 kvxprobe:i386" KVX_BOOTSTRAP_APT_OPTIONS=$options \
    KVX_BOOTSTRAP_RETRY_WAIT=0 KVX_BOOTSTRAP_LOG=$root/install.log bash scripts/bootstrap.sh >"$root/out" 2>&1 || status=$?
  local ok=1
  [ "$status" -eq "$expected" ] || ok=0
  for pattern in "$@"; do
    grep -qE -- "$pattern" "$root/out" || { ok=0; echo "  missing: $pattern"; }
  done
  if [ $ok -eq 1 ]; then
    echo "$name: ok"
  else
    echo "$name: FAILED (exit $status, expected $expected); its output:"
    sed 's/^/  | /' "$root/out"
    failures=$((failures + 1))
  fi
}

check "healthy mirror" 0 "all dependencies present"
! grep -q "without" "$root/out" || { echo "healthy mirror: the fallback ran"; failures=$((failures + 1)); }

# Mirror sync in progress: the i386 index no longer matches what its Release names.
echo "Package: kvxprobe" >>"$repo/dists/stable-security/main/binary-i386/Packages"
check "security index of one architecture cut short" 0 \
  "attempt 2 of 3" "still fails for stable-security" "binary-i386/Packages" \
  "held broken packages" "Trying again without stable-security" "installed without stable-security" \
  "apt-get update && .*apt-get upgrade"

# Nothing to fall back to: the main suite's index is damaged as well.
echo "Package: kvxprobe" >>"$repo/dists/stable/main/binary-i386/Packages"
[ "${KVX_TEST_VERBOSE:-0}" = 1 ] && sed "s/^/  | /" "$root/out"
check "every suite damaged" 1 "Trying again without stable stable-security" "what to do:"

[ "${KVX_TEST_VERBOSE:-0}" = 1 ] && cat "$root/out"
[ $failures -eq 0 ]
