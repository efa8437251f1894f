#!/usr/bin/env bash
# Runs the agent package's maintainer scripts (postinst, prerm, postrm in DIR) as dpkg calls them
# through the package's life, with stand-ins for systemctl, deb-systemd-helper and
# deb-systemd-invoke first on the search path, and checks the calls each one makes and what it
# leaves of /var/lib/vigil and /var/log/vigil. The scripts run in a mount namespace of their own,
# where /run, /var/lib and /var/log are scratch folders: whether systemd runs is a folder there,
# and nothing of this machine is touched.
#
#   maintainer_scripts_check.sh DIR
set -euo pipefail
DIR="$(cd "$1" && pwd)"
if [ "${2:-}" != --inside ]; then
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --mount --propagation private bash "$0" "$DIR" --inside
  fi
  exec unshare --user --map-root-user --mount --propagation private bash "$0" "$DIR" --inside
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/vigil-maintainer-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
mount -t tmpfs scratch /run
mount -t tmpfs scratch /var/lib
mount -t tmpfs scratch /var/log
mkdir -p "$WORK/bin"
LOG="$WORK/calls.log"
# Each stand-in notes its call; deb-systemd-helper answers debian-installed and was-enabled as
# the case says.
for tool in systemctl deb-systemd-invoke deb-systemd-helper; do
  cat >"$WORK/bin/$tool" <<EOF
#!/bin/sh
echo "$tool \$*" >>"$LOG"
case "\$1 \$2" in
  "debian-installed "*) [ "\$DSH_INSTALLED" = yes ] ;;
  "--quiet was-enabled") [ "\$DSH_WAS_ENABLED" = yes ] ;;
esac
EOF
  chmod 755 "$WORK/bin/$tool"
done
# A purge forgets the enablement through deb-systemd-helper only where the system has it.
helper_purge="deb-systemd-helper purge VigilNT.service"
[ -x /usr/bin/deb-systemd-helper ] || helper_purge=""

fail=0
# case SCRIPT "ARGS" SYSTEMD INSTALLED WAS_ENABLED "EXPECTED CALLS (;-separated)" KEPT
#   SYSTEMD: yes when systemd runs; INSTALLED, WAS_ENABLED: deb-systemd-helper's answers;
#   KEPT: yes when the agent's record files and trace must still be there afterwards.
case_() {
  local script=$1 args=$2 systemd=$3 installed=$4 was_enabled=$5 expected=$6 kept=$7
  rm -rf /run/systemd /var/lib/vigil /var/log/vigil
  [ "$systemd" = yes ] && mkdir -p /run/systemd/system
  mkdir -p /var/lib/vigil /var/log/vigil
  echo records >/var/lib/vigil/config.dat
  echo trace >/var/log/vigil/VigilNT.trace
  : >"$LOG"
  local rc=0
  # shellcheck disable=SC2086
  env -u DPKG_ROOT PATH="$WORK/bin:$PATH" DPKG_MAINTSCRIPT_PACKAGE=vigil DPKG_MAINTSCRIPT_NAME="$script" \
    DSH_INSTALLED="$installed" DSH_WAS_ENABLED="$was_enabled" sh "$DIR/$script" $args >"$WORK/out" 2>&1 || rc=$?
  local calls
  calls="$(paste -sd ';' "$LOG")"
  local name="$script $args (systemd running: $systemd, enabled before: $was_enabled)"
  if [ "$rc" -ne 0 ]; then echo "FAIL $name: exit status $rc"; cat "$WORK/out"; fail=1; return; fi
  if [ "$calls" != "$expected" ]; then
    printf 'FAIL %s\n  calls:    %s\n  expected: %s\n' "$name" "$calls" "$expected"; fail=1; return
  fi
  local left=no
  [ -e /var/lib/vigil/config.dat ] && [ -e /var/log/vigil/VigilNT.trace ] && left=yes
  if [ "$left" != "$kept" ]; then
    echo "FAIL $name: the agent's files kept: $left, expected: $kept"; ls -la /var/lib/vigil /var/log/vigil 2>&1; fail=1; return
  fi
  if [ "$kept" = no ] && { [ -e /var/lib/vigil ] || [ -e /var/log/vigil ]; }; then
    echo "FAIL $name: a folder of the agent is left"; fail=1; return
  fi
  echo "ok   $name"
}

state="deb-systemd-helper update-state VigilNT.service"
asked="deb-systemd-helper debian-installed VigilNT.service"
known="$asked;deb-systemd-helper unmask VigilNT.service;deb-systemd-helper --quiet was-enabled VigilNT.service"
reload="systemctl --system daemon-reload"
# A first installation: the unit is read, nothing is enabled or started.
case_ postinst "configure" yes no no "$asked;$state;$reload" yes
# An upgrade from 4.1.3: an agent that was enabled stays so; one that runs is restarted on the
# new program (try-restart starts none that was stopped).
case_ postinst "configure 4.1.3" yes yes yes "$known;deb-systemd-helper enable VigilNT.service;$state;$reload;deb-systemd-invoke try-restart VigilNT.service" yes
case_ postinst "configure 4.1.3" yes yes no "$known;$state;$reload;deb-systemd-invoke try-restart VigilNT.service" yes
case_ postinst "abort-upgrade 4.1.5" yes yes no "$known;$state;$reload;deb-systemd-invoke try-restart VigilNT.service" yes
case_ postinst "configure 4.1.3" no yes no "$known;$state" yes
# Removal stops the agent; an upgrade leaves it running until the new postinst restarts it.
case_ prerm "remove" yes yes yes "deb-systemd-invoke stop VigilNT.service" yes
case_ prerm "remove" no yes yes "" yes
case_ prerm "upgrade 4.1.5" yes yes yes "" yes
# After removal the service manager forgets the unit; the agent's files stay until a purge.
case_ postrm "remove" yes yes yes "$reload" yes
case_ postrm "upgrade 4.1.5" yes yes yes "" yes
# A purge forgets the enablement and leaves nothing of the agent.
case_ postrm "purge" yes yes yes "$helper_purge" no
case_ postrm "purge" no yes yes "$helper_purge" no

[ "$fail" -eq 0 ] && echo "maintainer scripts: every call as expected"
exit "$fail"
