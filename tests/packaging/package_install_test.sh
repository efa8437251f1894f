#!/usr/bin/env bash
# Builds the package with cpack, unpacks it into a scratch root and checks what landed where.
set -euo pipefail
BUILD="$1"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/vigil-package-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1) || {
  cat "$WORK/cpack.log"; echo "FAIL: cpack did not build the package"; exit 1; }
DEB="$(ls "$WORK"/out/*.deb 2>/dev/null | head -n 1)"
[ -n "$DEB" ] || { echo "FAIL: no .deb in $WORK/out"; exit 1; }
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"

fail=0
expect() {
  if [ -e "$ROOT$1" ]; then echo "ok   $1"; else echo "FAIL missing $1"; fail=1; fi
}
expect /usr/sbin/VigilNT
expect /usr/bin/Tremmail
expect /lib/systemd/system/VigilNT.service
expect /etc/vigil/VigilNT.conf
expect /usr/lib/vigil/libplatform.so
expect /usr/lib/vigil/libcore_scp.so
expect /usr/share/doc/vigil/README.md
expect /var/lib/vigil/mib.txt

# The unit starts the program where the package put it.
grep -q '^ExecStart=/usr/sbin/VigilNT' "$ROOT/lib/systemd/system/VigilNT.service" || {
  echo "FAIL: the unit does not start /usr/sbin/VigilNT"; fail=1; }
# The settings file is kept across upgrades.
dpkg-deb -e "$DEB" "$WORK/control"
grep -qx '/etc/vigil/VigilNT.conf' "$WORK/control/conffiles" || { echo "FAIL: settings not a conffile"; fail=1; }

# The installed agent finds its libraries through its run path (none of the build tree's), loads
# and answers: started outside the service manager and without -b it says why and ends with 1.
if LD_LIBRARY_PATH= ldd "$ROOT/usr/sbin/VigilNT" | grep -q 'not found'; then
  LD_LIBRARY_PATH= ldd "$ROOT/usr/sbin/VigilNT"; echo "FAIL: unresolved libraries"; fail=1
fi
if readelf -d "$ROOT/usr/sbin/VigilNT" | grep -q "$BUILD"; then
  echo "FAIL: the installed agent still points into the build tree"; fail=1
fi
set +e
env -u INVOCATION_ID -u NOTIFY_SOCKET "$ROOT/usr/sbin/VigilNT" >"$WORK/agent.out" 2>&1
rc=$?
set -e
if [ "$rc" -ne 1 ]; then cat "$WORK/agent.out"; echo "FAIL: the installed agent exited with $rc, not 1"; fail=1; fi

[ "$fail" -eq 0 ] && echo "package: all files in place"
exit "$fail"
