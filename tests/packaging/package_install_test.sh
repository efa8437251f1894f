#!/usr/bin/env bash
# Builds the package with cpack, unpacks it into a scratch root and checks what landed where.
set -euo pipefail
BUILD="$1"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/vigil-package-XXXXXX")"
# The named objects (files in /dev/shm) of the unpacked programs, under a prefix of the test's own.
PREFIX="pkg$$."
agent_pid=""
console_pid=""
# The unpacked programs started below end with the test, whatever way it ends, and what they
# made goes with them.
cleanup() {
  local rc=$?
  set +e
  for pid in $console_pid $agent_pid; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
  rm -f /dev/shm/"$PREFIX"*
  exit "$rc"
}
trap cleanup EXIT

(cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1) || {
  cat "$WORK/cpack.log"; echo "FAIL: cpack did not build the package"; exit 1; }
# The agent's package, and the desktop programs' package over it.
DEB="$(ls "$WORK"/out/vigil_*.deb 2>/dev/null | head -n 1)"
CONSOLE_DEB="$(ls "$WORK"/out/vigil-console_*.deb 2>/dev/null | head -n 1)"
[ -n "$DEB" ] || { echo "FAIL: no vigil .deb in $WORK/out"; ls "$WORK/out"; exit 1; }
[ -n "$CONSOLE_DEB" ] || { echo "FAIL: no vigil-console .deb in $WORK/out"; ls "$WORK/out"; exit 1; }
# The release: the project's version, which names the packages and their libraries.
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
# The agent's package alone: nothing of the desktop programs, no Qt.
[ -e "$ROOT/usr/bin/Vigil95" ] && { echo "FAIL: the agent's package holds Vigil95"; exit 1; }
compgen -G "$ROOT/usr/lib/vigil/libTrem.so*" >/dev/null && { echo "FAIL: the agent's package holds the dialog library"; exit 1; }
dpkg-deb -x "$CONSOLE_DEB" "$ROOT"

fail=0
expect() {
  if [ -e "$ROOT$1" ]; then echo "ok   $1"; else echo "FAIL missing $1"; fail=1; fi
}
expect /usr/sbin/VigilNT
expect /usr/bin/Tremmail
expect /usr/bin/saver
expect /usr/lib/vigil/libfilesaver.so.$VERSION
expect /usr/share/man/man1/saver.1.gz
expect /lib/systemd/system/VigilNT.service
expect /etc/vigil/VigilNT.conf
expect /usr/lib/vigil/libplatform.so.$VERSION
expect /usr/lib/vigil/libcore_scp.so.$VERSION
expect /usr/share/doc/vigil/README.md
expect /usr/share/doc/vigil/changelog.gz
expect /usr/share/doc/vigil/copyright
expect /usr/share/man/man8/VigilNT.8.gz
expect /usr/share/man/man1/Tremmail.1.gz
expect /usr/share/lintian/overrides/vigil
expect /var/lib/vigil/mib.txt
expect /usr/bin/Vigil95
expect /usr/bin/Pommet
expect /usr/bin/Tavona
expect /usr/share/man/man1/Tavona.1.gz
expect /usr/share/man/man1/Pommet.1.gz
expect /usr/share/applications/tavona.desktop
expect /usr/share/icons/hicolor/scalable/apps/tavona.svg
expect /etc/vigil/agent-platform
expect /usr/share/man/man1/Vigil95.1.gz
expect /usr/share/doc/vigil-console/changelog.gz
expect /usr/share/doc/vigil-console/copyright
expect /usr/lib/vigil/libTrem.so.$VERSION
expect /usr/share/lintian/overrides/vigil-console
expect /usr/share/vigil/modems.txt

# The unit starts the program where the package put it.
UNIT="$ROOT/lib/systemd/system/VigilNT.service"
grep -q '^ExecStart=/usr/sbin/VigilNT' "$UNIT" || {
  echo "FAIL: the unit does not start /usr/sbin/VigilNT"; fail=1; }
# The settings file is the one place of the data directory: the unit names none of its own.
if grep -q 'VIGIL_DATA_DIR' "$UNIT"; then echo "FAIL: the unit sets a data folder over the settings file"; fail=1; fi
# The service gets the folder of the sample's trace file.
trace_folder="$(sed -n 's|^# *trace_file *= *\(/var/log/[^/]*\)/.*|\1|p' "$ROOT/etc/vigil/VigilNT.conf")"
grep -qx "LogsDirectory=${trace_folder#/var/log/}" "$UNIT" || {
  echo "FAIL: the unit does not create the trace folder ${trace_folder:-?} of the settings sample"; fail=1; }
# The settings file is kept across upgrades.
dpkg-deb -e "$DEB" "$WORK/control"
grep -qx '/etc/vigil/VigilNT.conf' "$WORK/control/conffiles" || { echo "FAIL: settings not a conffile"; fail=1; }
# The maintainer scripts handle the agent's service as dpkg calls them, and the real dpkg takes
# the package through its life.
bash "$(dirname "$0")/maintainer_scripts_check.sh" "$WORK/control" || fail=1
bash "$(dirname "$0")/dpkg_life_check.sh" "$DEB" "$CONSOLE_DEB" || fail=1
# The snmpd that the trap hand-off of snmp_service = snmp needs is suggested.
[ "$(dpkg-deb -f "$DEB" Suggests)" = snmpd ] || { echo "FAIL: the package does not suggest snmpd"; fail=1; }
# Each package is of the project's version, and its change log's first entry says what this
# version changed: a release that changes anything has a version of its own.
for package in "$DEB" "$CONSOLE_DEB"; do
  name="$(dpkg-deb -f "$package" Package)"
  [ "$(dpkg-deb -f "$package" Version)" = "$VERSION" ] || {
    echo "FAIL: $name is of version $(dpkg-deb -f "$package" Version), the project's is $VERSION"; fail=1; }
  top="$(zcat "$ROOT/usr/share/doc/$name/changelog.gz" | head -n 1)"
  [[ "$top" == "$name ($VERSION) "* ]] || { echo "FAIL: $name's change log starts with $top, not $VERSION"; fail=1; }
done
# Every private library carries the release in its name and SONAME (which the programs record),
# so that the loader never puts a program together with the libraries of another release. Only
# the release's names are packaged.
for lib in "$ROOT"/usr/lib/vigil/*; do
  name="$(basename "$lib")"
  soname="$(readelf -d -W "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
  if [[ "$name" != lib*.so."$VERSION" ]] || [ -L "$lib" ] || [ "$soname" != "$name" ]; then
    echo "FAIL: /usr/lib/vigil/$name (SONAME ${soname:-none}) is not a library named for release $VERSION"; fail=1
  fi
done
# Each package has its own change log.
if cmp -s "$ROOT/usr/share/doc/vigil/changelog.gz" "$ROOT/usr/share/doc/vigil-console/changelog.gz" ||
   ! zcat "$ROOT/usr/share/doc/vigil-console/changelog.gz" | head -n 1 | grep -q '^vigil-console ('; then
  echo "FAIL: the console package's change log is not its own"; fail=1
fi
# The README names what the packages hold, and nothing else.
bash "$(dirname "$0")/install_section_check.sh" "$(dirname "$0")/../../README.md" "$DEB" "$CONSOLE_DEB" || fail=1

# The dependencies are those of the binaries: the C and C++ libraries and the SNMP library
# itself (not a package that merely might hold it), and libcurl, which the mail path loads.
depends="$(dpkg-deb -f "$DEB" Depends)"
names="$(sed 's/([^)]*)//g; s/[,|]/\n/g' <<<"$depends" | tr -d ' ')"
for want in libc6 libstdc++6 libsnmp40 libcurl4; do
  grep -Fqx "$want" <<<"$names" || { echo "FAIL: Depends ($depends) lacks $want"; fail=1; }
done
if grep -Fqx libsnmp-base <<<"$names"; then echo "FAIL: Depends ($depends) offers libsnmp-base"; fail=1; fi
if grep -q -i qt <<<"$names"; then echo "FAIL: the agent's package pulls in Qt ($depends)"; fail=1; fi
# The console package needs the agent's package of its own version and Qt's widgets.
console_depends="$(dpkg-deb -f "$CONSOLE_DEB" Depends)"
console_names="$(sed 's/([^)]*)//g; s/[,|]/\n/g' <<<"$console_depends" | tr -d ' ')"
for want in vigil libqt6widgets6 libqt6printsupport6; do
  grep -Fqx "$want" <<<"$console_names" || { echo "FAIL: console Depends ($console_depends) lacks $want"; fail=1; }
done

# Every run path in the package names a folder of the package (or of the system).
bash "$(dirname "$0")/run_paths_check.sh" --root "$ROOT" "$ROOT" usr/sbin/VigilNT usr/bin/Tremmail \
  usr/bin/saver usr/bin/Vigil95 usr/bin/Tavona usr/bin/Pommet usr/lib/vigil/libplatform.so.$VERSION \
  usr/lib/vigil/libTrem.so.$VERSION || fail=1

# Debian's own check of the package: no error and no warning.
if ! command -v lintian >/dev/null; then
  echo "FAIL: lintian is not installed (scripts/deps installs it)"; fail=1
else
  set +e
  # lintian keeps scratch files in TMPDIR that it does not always remove: give it the work folder.
  TMPDIR="$WORK" lintian --fail-on error,warning --tag-display-limit 0 "$DEB" "$CONSOLE_DEB" >"$WORK/lintian.txt" 2>&1
  rc=$?
  set -e
  cat "$WORK/lintian.txt"
  case "$rc" in
    0) grep -Eq '^[EW]: ' "$WORK/lintian.txt" && { echo "FAIL: lintian reports errors or warnings"; fail=1; } ;;
    2) echo "FAIL: lintian reports errors or warnings"; fail=1 ;;
    *) echo "FAIL: lintian did not run through (status $rc)"; fail=1 ;;
  esac
fi

# The installed agent finds its libraries through its run path (none of the build tree's), loads
# and answers: started outside the service manager and without -b it says why and ends with 1.
if LD_LIBRARY_PATH= ldd "$ROOT/usr/sbin/VigilNT" | grep -q 'not found'; then
  LD_LIBRARY_PATH= ldd "$ROOT/usr/sbin/VigilNT"; echo "FAIL: unresolved libraries"; fail=1
fi
for program in Vigil95 Tavona Pommet; do
  if LD_LIBRARY_PATH= ldd "$ROOT/usr/bin/$program" | grep -q 'not found'; then
    LD_LIBRARY_PATH= ldd "$ROOT/usr/bin/$program"; echo "FAIL: the libraries of $program are not all found"; fail=1
  fi
done
# The menu entry starts the console the package holds, with the package's icon.
grep -qx 'Exec=Tavona' "$ROOT/usr/share/applications/tavona.desktop" || { echo "FAIL: the menu entry does not start Tavona"; fail=1; }
grep -qx 'Icon=tavona' "$ROOT/usr/share/applications/tavona.desktop" || { echo "FAIL: the menu entry names another icon"; fail=1; }
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$ROOT/usr/share/applications/tavona.desktop" || { echo "FAIL: the menu entry is not valid"; fail=1; }
fi
dpkg-deb -e "$CONSOLE_DEB" "$WORK/console-control"
grep -qx '/etc/vigil/agent-platform' "$WORK/console-control/conffiles" || { echo "FAIL: agent-platform not a conffile"; fail=1; }
if readelf -d "$ROOT/usr/sbin/VigilNT" | grep -q "$BUILD"; then
  echo "FAIL: the installed agent still points into the build tree"; fail=1
fi
set +e
env -u INVOCATION_ID -u NOTIFY_SOCKET VIGIL_NAME_PREFIX="$PREFIX" "$ROOT/usr/sbin/VigilNT" >"$WORK/agent.out" 2>&1
rc=$?
set -e
if [ "$rc" -ne 1 ]; then cat "$WORK/agent.out"; echo "FAIL: the installed agent exited with $rc, not 1"; fail=1; fi

# The unpacked console against the unpacked agent, idle, on the local channel: its first picture
# of the main window. Everything in the scratch folder: the agent's data and settings (harmless
# commands), the console's settings and files, its boxes, and a systemctl that only notes a call
# (the console never starts a real service). The agent runs as the unit runs it: with the unit's
# environment, in a working directory of its own, its data directory from the settings file.
mkdir -p "$WORK/data" "$WORK/state" "$WORK/xdg-config" "$WORK/xdg-data" "$WORK/screens"
mkdir -m 0700 "$WORK/runtime"  # the console's runtime folder, not /tmp/runtime-USER
cat >"$WORK/VigilNT.conf" <<CONF
data_directory = $WORK/data
shutdown_command = /bin/true
reboot_command = /bin/true
saver_command = /bin/true
snmp_service =
user_terminals = no
CONF
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$WORK/systemctl.log" >"$WORK/systemctl"
chmod +x "$WORK/systemctl"
mapfile -t unit_environment < <(sed -n 's/^Environment=//p' "$UNIT" | tr ' ' '\n')
(cd "$WORK/state" && exec env -u INVOCATION_ID -u NOTIFY_SOCKET -u VIGIL_DATA_DIR "${unit_environment[@]}" \
  VIGIL_NAME_PREFIX="$PREFIX" VIGIL_AGENT_CONF="$WORK/VigilNT.conf" "$ROOT/usr/sbin/VigilNT" -b -x 5) \
  >"$WORK/idle-agent.out" 2>&1 &
agent_pid=$!
for _ in $(seq 100); do [ -e "$WORK/data/config.dat" ] && break; sleep 0.2; done
if [ -e "$WORK/data/config.dat" ] && [ -z "$(ls -A "$WORK/state")" ]; then
  echo "ok   the agent keeps its files in the settings file's data_directory"
else
  cat "$WORK/idle-agent.out"; ls -A "$WORK/data" "$WORK/state"
  echo "FAIL: the agent run as the unit runs it does not keep its files in the settings file's data_directory"; fail=1
fi
QT_QPA_PLATFORM=offscreen VIGIL_NAME_PREFIX="$PREFIX" XDG_CONFIG_HOME="$WORK/xdg-config" XDG_DATA_HOME="$WORK/xdg-data" \
  XDG_RUNTIME_DIR="$WORK/runtime" \
  VIGIL_MESSAGE_LOG="$WORK/boxes.log" VIGIL_SCREENSHOT_DIR="$WORK/screens" VIGIL_SYSTEMCTL="$WORK/systemctl" \
  VIGIL_AGENT_PLATFORM="$ROOT/etc/vigil/agent-platform" "$ROOT/usr/bin/Tavona" c:3 n >"$WORK/tavona.out" 2>&1 &
console_pid=$!
picture=""
for _ in $(seq 300); do
  picture="$(find "$WORK/screens" -name '*.png' | head -n 1)"
  [ -n "$picture" ] && break
  kill -0 "$console_pid" 2>/dev/null || break
  sleep 0.2
done
if [ -n "$picture" ]; then
  echo "ok   the unpacked Tavona shows the idle agent: $(basename "$picture")"
else
  cat "$WORK/tavona.out" "$WORK/boxes.log" 2>/dev/null
  echo "FAIL: the unpacked Tavona showed no picture within 60 s"; fail=1
fi
# Its fresh folder has the package's modem list.
if cmp -s "$ROOT/usr/share/vigil/modems.txt" "$WORK/xdg-data/Brenvale/Tavona/modems.txt"; then
  echo "ok   the unpacked Tavona copied the package's modems.txt into its fresh folder"
else
  echo "FAIL: the unpacked Tavona's fresh folder has no copy of the package's modems.txt"; fail=1
fi
kill -TERM "$console_pid" 2>/dev/null || true
for _ in $(seq 50); do kill -0 "$console_pid" 2>/dev/null || break; sleep 0.2; done
kill -KILL "$console_pid" 2>/dev/null || true
wait "$console_pid" 2>/dev/null || true
kill -TERM "$agent_pid" 2>/dev/null || true
for _ in $(seq 75); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.2; done
kill -KILL "$agent_pid" 2>/dev/null || true
wait "$agent_pid" 2>/dev/null || true

[ "$fail" -eq 0 ] && echo "package: all files in place"
exit "$fail"
