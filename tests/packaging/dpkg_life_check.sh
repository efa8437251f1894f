#!/usr/bin/env bash
# The agent's package through its life with the real dpkg: installed, enabled by the
# administrator, upgraded (installed again), removed and purged, in a scratch copy of this system
# (an overlay of / in a mount namespace of its own, entered with chroot; nothing of this machine
# changes). systemctl and deb-systemd-invoke are stand-ins that note their calls, so that no
# service is ever started or stopped; deb-systemd-helper is the system's own, and systemd counts
# as running. Needs root; says so and passes without it.
#
#   dpkg_life_check.sh VIGIL_DEB
set -euo pipefail
DEB="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
if [ "${2:-}" != --inside ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "skip the package's life with dpkg: it needs root"
    exit 0
  fi
  # The scratch folder is a mount point in the namespace only: here it stays empty, and nothing
  # but rmdir ever removes anything below it (the scratch system holds this machine's /dev).
  SCRATCH="$(mktemp -d "${TMPDIR:-/tmp}/vigil-dpkg-XXXXXX")"
  rc=0
  unshare --mount --propagation private bash "$0" "$DEB" --inside "$SCRATCH" || rc=$?
  rmdir "$SCRATCH"
  exit "$rc"
fi

SCRATCH="$3"
mount -t tmpfs scratch "$SCRATCH"
mkdir -p "$SCRATCH/upper" "$SCRATCH/work" "$SCRATCH/root"
ROOT="$SCRATCH/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$SCRATCH/upper,workdir=$SCRATCH/work" "$ROOT"
mount --rbind /proc "$ROOT/proc"
mount --rbind /dev "$ROOT/dev"
mount -t tmpfs scratch "$ROOT/run"
mkdir -p "$ROOT/run/systemd/system" "$ROOT/stand-ins" "$ROOT/package"
cp "$DEB" "$ROOT/package/vigil.deb"
for tool in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>/stand-ins/calls.log\n' "$tool" >"$ROOT/stand-ins/$tool"
  chmod 755 "$ROOT/stand-ins/$tool"
done
# The package is gone from the scratch system before the test starts, whatever this machine has.
in_root() { chroot "$ROOT" env PATH=/stand-ins:/usr/sbin:/usr/bin:/sbin:/bin sh -c "$1"; }
in_root 'dpkg --purge vigil-console vigil >/dev/null 2>&1 || true'

fail=0
LINK=/etc/systemd/system/multi-user.target.wants/VigilNT.service
# step NAME COMMAND EXPECTED-CALL...: runs a dpkg command; each expected call must be among the
# stand-ins' calls.
step() {
  local name=$1 command=$2
  shift 2
  : >"$ROOT/stand-ins/calls.log"
  if ! in_root "dpkg --no-triggers $command" >"$SCRATCH/dpkg.out" 2>&1; then
    cat "$SCRATCH/dpkg.out"; echo "FAIL $name: dpkg $command failed"; fail=1; return
  fi
  for call in "$@"; do
    grep -Fqx "$call" "$ROOT/stand-ins/calls.log" || {
      echo "FAIL $name: no call \"$call\" among:"; cat "$ROOT/stand-ins/calls.log"; fail=1; }
  done
  echo "ok   $name"
}
check() {  # check DESCRIPTION TEST-EXPRESSION (run in the scratch system)
  if in_root "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi
}

step "install" "-i /package/vigil.deb" "systemctl --system daemon-reload"
check "installing neither enables nor starts the agent" "[ ! -e $LINK ] && ! grep -q -e start -e enable /stand-ins/calls.log"
check "the MIB module is in the data directory" "[ -f /var/lib/vigil/mib.txt ]"
# The administrator enables the agent (the link systemctl enable makes); the agent writes its
# records and its trace.
in_root "ln -s /lib/systemd/system/VigilNT.service $LINK && echo records >/var/lib/vigil/config.dat &&
         mkdir -p /var/log/vigil && echo trace >/var/log/vigil/VigilNT.trace"
step "upgrade" "-i /package/vigil.deb" "systemctl --system daemon-reload" "deb-systemd-invoke try-restart VigilNT.service"
check "an upgrade keeps the enablement" "[ -L $LINK ]"
step "remove" "--remove vigil" "deb-systemd-invoke stop VigilNT.service" "systemctl --system daemon-reload"
check "removal keeps the records, the settings and the enablement" \
  "[ -f /var/lib/vigil/config.dat ] && [ -f /etc/vigil/VigilNT.conf ] && [ -L $LINK ]"
step "purge" "--purge vigil"
check "a purge leaves nothing of the agent" \
  "[ ! -e /var/lib/vigil ] && [ ! -e /var/log/vigil ] && [ ! -e /etc/vigil ] && [ ! -L $LINK ] &&
   ! ls /var/lib/systemd/deb-systemd-helper-enabled 2>/dev/null | grep -q VigilNT"

[ "$fail" -eq 0 ] && echo "the package's life with dpkg: as expected"
exit "$fail"
