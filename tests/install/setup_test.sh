#!/usr/bin/env bash
# scripts/setup against a stand-in apt-get on PATH, no network: a package list that cannot be
# fetched is said in one line and the install goes on; an install that fails stops the script with a
# line naming the packages and the likely cause; an update that keeps failing is tried twice, no more.
set -uo pipefail
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# apt-get: "update" and "install" behave as STANDIN_UPDATE and STANDIN_INSTALL say (ok, mid-sync,
# offline; ok, unmet); every call is logged.
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN_CALLS"
case "$1:${STANDIN_UPDATE}:${STANDIN_INSTALL}" in
  update:ok:*) echo "Reading package lists..."; exit 0 ;;
  update:mid-sync:*)
    echo "Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  update:offline:*) echo "W: Temporary failure resolving 'deb.debian.org'" >&2; exit 100 ;;
  install:*:ok) echo "Setting up the packages"; exit 0 ;;
  install:*:unmet)
    echo "The following packages have unmet dependencies:"
    echo " libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 (>= 1.0.0) but it is not going to be installed"
    echo " libcurl4:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed"
    echo "                 Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac
echo "stand-in apt-get: unexpected call: $*" >&2
exit 99
STANDIN
printf '#!/bin/sh\nexit 0\n' >"$work/bin/apt-cache"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# Runs setup for a package no machine has, with the stand-ins, and checks its exit status, its
# "setup:" lines (an extended regular expression each, in order, and no others) and the number of
# calls of apt-get update.
check() {
  local name=$1 update=$2 install=$3 status_wanted=$4 updates_wanted=$5
  shift 5
  local out="$work/$name.out" status lines updates
  : >"$work/calls"
  STANDIN_UPDATE=$update STANDIN_INSTALL=$install STANDIN_CALLS="$work/calls" SETUP_RETRY_PAUSE=0 \
    PATH="$work/bin:$PATH" "$setup" vudaduv-absent-test-package >"$out" 2>&1
  status=$?
  lines=$(grep '^setup:' "$out")
  updates=$(grep -c '^update' "$work/calls")
  local problem=""
  [ "$status" -eq "$status_wanted" ] || problem+="exit status $status, wanted $status_wanted; "
  [ "$updates" -eq "$updates_wanted" ] || problem+="$updates updates, wanted $updates_wanted; "
  if [ "$(wc -l <<<"$lines")" -ne $# ]; then
    problem+="$(wc -l <<<"$lines") setup lines, wanted $#; "
  else
    local i=1 pattern
    for pattern in "$@"; do
      grep -qE -- "$pattern" <<<"$(sed -n "${i}p" <<<"$lines")" ||
        problem+="line $i does not match /$pattern/; "
      i=$((i + 1))
    done
  fi
  if [ -n "$problem" ]; then
    echo "FAIL $name: $problem"
    sed 's/^/  | /' "$out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

check index-mid-sync-install-ok mid-sync ok 0 2 \
  '^setup: installing vudaduv-absent-test-package$' \
  '^setup: apt-get update could not fetch bookworm-security/main/binary-i386 \(exit status 100\); going on with the package lists there$' \
  '^setup: done$'
check index-mid-sync-install-fails mid-sync unmet 1 2 \
  '^setup: installing vudaduv-absent-test-package$' \
  '^setup: apt-get update could not fetch bookworm-security/main/binary-i386 ' \
  '^setup: could not install vudaduv-absent-test-package \(apt-get exit status 100: unmet dependencies of libwine:i386 libcurl4:i386\); .*mirror in the middle of a sync.*try again later$'
check offline-install-ok offline ok 0 2 \
  '^setup: installing ' \
  '^setup: apt-get update could not fetch every list \(exit status 100\); going on' \
  '^setup: done$'
check update-ok-install-fails ok unmet 1 1 \
  '^setup: installing ' \
  '^setup: could not install vudaduv-absent-test-package \(apt-get exit status 100: unmet dependencies'
check update-ok-install-ok ok ok 0 1 \
  '^setup: installing ' \
  '^setup: done$'

# A machine that has every package needs no apt at all.
: >"$work/calls"
if STANDIN_CALLS="$work/calls" PATH="$work/bin:$PATH" "$setup" >"$work/nothing.out" 2>&1 &&
  grep -qx 'setup: every package needed is installed' "$work/nothing.out" && [ ! -s "$work/calls" ]; then
  echo "ok   nothing-missing"
elif grep -q '^setup: installing' "$work/nothing.out"; then
  echo "skip nothing-missing: this machine lacks a build package ($(grep '^setup: installing' "$work/nothing.out"))"
else
  echo "FAIL nothing-missing"; sed 's/^/  | /' "$work/nothing.out"; failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
