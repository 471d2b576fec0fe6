#!/usr/bin/env bash
# Installs everything the project needs from Debian's packages. Idempotent, and quick when all is
# already present (one dpkg query, no apt run).
#
# A Debian mirror is sometimes caught mid-sync: one index of one suite then fails to download ("File
# has unexpected size ... Mirror sync in progress?"), apt-get update fails, and with that index
# missing the install can fail too (a security update of an amd64 package whose i386 twin is in the
# failed index: "held broken packages"). So: apt-get update is retried; the install is tried with what
# was fetched; if it still fails, it is tried once more from a throw-away copy of the sources that
# leaves out the suites that failed (the machine's own apt configuration and index files are not
# touched). Every step says what happened and what the user can do.
#
# Environment (for tests of the fallback and unusual machines; all optional):
#   KVX_BOOTSTRAP_PACKAGES     the packages to ensure, instead of the project's list
#   KVX_BOOTSTRAP_APT_OPTIONS  extra options for every apt-get and apt-config call (e.g. -o Dir=ROOT)
#   KVX_BOOTSTRAP_RETRY_WAIT   seconds before the first retry of apt-get update (default 10; doubles)
#   KVX_BOOTSTRAP_LOG          where apt's whole output of a failed install is kept
#                              (default /tmp/kvx-bootstrap-install.log)
set -euo pipefail

packages=(
  cmake ninja-build file python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386
  xvfb x11-apps x11-utils imagemagick
  googletest zlib1g-dev libdeflate-dev clang libclang-rt-14-dev
  libz-mingw-w64-dev nlohmann-json3-dev libssl-dev
  unzip zip 7zip libarchive-tools
  osslsigncode openssl
  locales
)
if [ -n "${KVX_BOOTSTRAP_PACKAGES:-}" ]; then
  read -r -a packages <<<"$KVX_BOOTSTRAP_PACKAGES"
fi
read -r -a apt_options <<<"${KVX_BOOTSTRAP_APT_OPTIONS:-}"

say() { echo "bootstrap: $*"; }
failure_log=${KVX_BOOTSTRAP_LOG:-/tmp/kvx-bootstrap-install.log}

# With options of its own, apt may look at another dpkg database (-o Dir=ROOT: a throw-away root).
admindir=()
if [ ${#apt_options[@]} -gt 0 ]; then
  eval "$(apt-config "${apt_options[@]}" shell STATUS Dir::State::status/f)"
  admindir=(--admindir="$(dirname "$STATUS")")
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query "${admindir[@]}" -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
work=
trap '[ -n "$work" ] && rm -rf "$work"' EXIT

# apt_update LOG OPTION...: apt-get update, retried twice while an index fails; the last attempt's
# output stays in LOG. Returns apt-get's status.
apt_update() {
  local log=$1
  shift
  local wait=${KVX_BOOTSTRAP_RETRY_WAIT:-10} attempt rc=0
  for attempt in 1 2 3; do
    rc=0
    $SUDO apt-get "${apt_options[@]}" "$@" update >"$log" 2>&1 || rc=$?
    [ $rc -eq 0 ] && return 0
    failed_fetches "$log" | sed 's/^/bootstrap:   /'
    if [ $attempt -lt 3 ]; then
      say "apt-get update failed (attempt $attempt of 3); trying again in $wait s"
      sleep "$wait"
      wait=$((wait * 2))
    fi
  done
  return $rc
}

# The URLs apt could not fetch, each with apt's reason.
failed_fetches() { sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1 (\2)/p' "$1"; }
# The suites those URLs belong to (.../dists/SUITE/...), once each.
failed_suites() { sed -n 's/^[EW]: Failed to fetch [^ ]*\/dists\/\([^/ ]*\)\/.*/\1/p' "$1" | sort -u; }

# apt's reasons for a failed install, at most a dozen lines of them (a missing i386 index can make
# hundreds), then its error lines.
install_errors() {
  local problems
  problems=$(grep -E 'but it is not|but .* is to be installed|Breaks:|Conflicts:' "$1" || true)
  if [ -n "$problems" ]; then
    head -n 12 <<<"$problems" | sed 's/^/bootstrap:   /'
    [ "$(wc -l <<<"$problems")" -le 12 ] || say "  ... ($(wc -l <<<"$problems") such lines in all)"
  fi
  grep -E '^E:' "$1" | sed 's/^/bootstrap:   /' || true
}

apt_install() {
  local log=$1
  shift
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${apt_options[@]}" "$@" install -y -q "${missing[@]}" >"$log" 2>&1
}

# without_suites DIR SUITE...: copies the sources that apt reads into DIR/sources.list and
# DIR/sources.list.d, leaving the named suites out (one-line and deb822 formats alike), and the index
# files already fetched into DIR/lists (as hard links where the file system allows), so that apt can
# run from DIR without changing the machine's own configuration or index files.
without_suites() {
  local dir=$1
  shift
  local drop=" $* " SL SP LISTS f
  eval "$(apt-config "${apt_options[@]}" shell SL Dir::Etc::sourcelist/f SP Dir::Etc::sourceparts/d LISTS Dir::State::lists/d)"
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial"
  : >"$dir/sources.list"
  if [ -f "$SL" ]; then
    awk -v drop="$drop" '
      /^[ \t]*deb(-src)?[ \t]/ { n = 2; if ($2 ~ /^\[/) { while (n <= NF && $n !~ /\]$/) n++; n++ }
                                 if (index(drop, " " $(n + 1) " ")) next }
      { print }' "$SL" >"$dir/sources.list"
  fi
  for f in "$SP"*.list; do
    [ -f "$f" ] && awk -v drop="$drop" '
      /^[ \t]*deb(-src)?[ \t]/ { n = 2; if ($2 ~ /^\[/) { while (n <= NF && $n !~ /\]$/) n++; n++ }
                                 if (index(drop, " " $(n + 1) " ")) next }
      { print }' "$f" >"$dir/sources.list.d/$(basename "$f")"
  done
  for f in "$SP"*.sources; do
    # deb822: stanzas separated by blank lines; a stanza whose every suite is dropped goes entirely.
    [ -f "$f" ] && awk -v drop="$drop" '
      function flush() { if (n && keep) for (i = 1; i <= n; i++) print lines[i]; if (n && keep) print ""; n = 0; keep = 1 }
      BEGIN { keep = 1 }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "suites:" { s = ""; for (i = 2; i <= NF; i++) if (!index(drop, " " $i " ")) s = s " " $i
                                 if (s == "") keep = 0; lines[++n] = "Suites:" s; next }
      { lines[++n] = $0 }
      END { flush() }' "$f" >"$dir/sources.list.d/$(basename "$f")"
  done
  if [ -d "$LISTS" ]; then
    cp -al "$LISTS". "$dir/lists/" 2>/dev/null || cp -a "$LISTS". "$dir/lists/" 2>/dev/null || true
    rm -f "$dir/lists/lock"
  fi
}

if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  work=$(mktemp -d)
  chmod 755 "$work" # apt fetches as its own user (_apt) into the copy of the index files
  update_status=0
  apt_update "$work/update.log" || update_status=$?
  suites=()
  if [ $update_status -ne 0 ]; then
    mapfile -t suites < <(failed_suites "$work/update.log")
    if [ ${#suites[@]} -gt 0 ]; then
      say "apt-get update still fails for ${suites[*]} (a mirror in mid-sync usually recovers within hours);"
      say "installing with the indexes that were fetched"
    else
      grep -E '^(E|W|Err):' "$work/update.log" | sed 's/^/bootstrap:   /' || true
      say "apt-get update failed; installing with the indexes already on this machine"
    fi
  fi
  if ! apt_install "$work/install.log"; then
    install_errors "$work/install.log"
    if [ ${#suites[@]} -eq 0 ]; then
      cp -f "$work/install.log" "$failure_log" 2>/dev/null || true
      say "the install failed (apt's messages above; its whole output: $failure_log)"
      say "what to do: check the network and the sources in /etc/apt, then run this script again"
      exit 1
    fi
    say "the install failed while ${suites[*]} could not be fetched whole (typically: an update of an"
    say "amd64 package there whose i386 twin is in the index that failed)."
    say "Trying again without ${suites[*]}, from a throw-away copy of the sources (the machine's apt"
    say "configuration is not changed)"
    without_suites "$work/alt" "${suites[@]}"
    alt=(-o "Dir::Etc::SourceList=$work/alt/sources.list" -o "Dir::Etc::SourceParts=$work/alt/sources.list.d"
         -o "Dir::State::Lists=$work/alt/lists")
    if ! apt_update "$work/update-alt.log" "${alt[@]}"; then
      say "apt-get update also fails without ${suites[*]}; installing with what was fetched"
    fi
    if ! apt_install "$work/install-alt.log" "${alt[@]}"; then
      install_errors "$work/install-alt.log"
      cp -f "$work/install-alt.log" "$failure_log" 2>/dev/null || true
      say "the install failed without ${suites[*]} too (whole output: $failure_log)"
      say "what to do: wait for the mirror to finish its sync, or set another mirror in /etc/apt, and run this script again"
      exit 1
    fi
    say "installed without ${suites[*]}. Once the mirror has synced, run"
    say "  ${SUDO:+sudo }apt-get update && ${SUDO:+sudo }apt-get upgrade"
    say "to get that suite's updates (security fixes among them)"
  elif [ ${#suites[@]} -gt 0 ]; then
    say "installed, with ${suites[*]} as the machine last fetched it: run ${SUDO:+sudo }apt-get update"
    say "again later (and upgrade) to get its current state"
  fi
fi

# The wizard is tested in Spanish and in English; Wine takes the system language from the Unix
# locale only when that locale exists.
if ! locale -a 2>/dev/null | grep -qi '^es_ES\.utf-\?8$' || ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; then
  for l in es_ES en_US; do
    if ! grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  done
  $SUDO locale-gen >/dev/null
fi
say "all dependencies present"
