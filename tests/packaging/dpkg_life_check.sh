#!/usr/bin/env bash
# The agent's package through its life with the real dpkg: installed, enabled by the
# administrator, upgraded (installed again), removed and purged, in a scratch copy of this system
# (an overlay of / in a mount namespace of its own, entered with chroot; nothing of this machine
# changes). systemctl and deb-systemd-invoke are stand-ins that note their calls, so that no
# service is ever started or stopped; deb-systemd-helper is the system's own, and systemd counts
# as running. Needs root; says so and passes without it.
#
# With the console package too, the pair meets another release: the packages made again as the
# release before this one (its version, the packages' relations to each other, its libraries'
# names), each mixed with the other release's pair. dpkg refuses each mix, and a program that a
# forced mix leaves among the other release's libraries is refused by the loader rather than run;
# the older pair upgrades to this one at once.
#
#   dpkg_life_check.sh VIGIL_DEB [CONSOLE_DEB]
set -euo pipefail
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
DEB="$(absolute "$1")"
CONSOLE_DEB="${2:+$(absolute "$2")}"
if [ "${3:-}" != --inside ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "skip the package's life with dpkg: it needs root"
    exit 0
  fi
  # The scratch folder is a mount point in the namespace only: here it stays empty, and nothing
  # but rmdir ever removes anything below it (the scratch system holds this machine's /dev).
  SCRATCH="$(mktemp -d "${TMPDIR:-/tmp}/vigil-dpkg-XXXXXX")"
  rc=0
  unshare --mount --propagation private bash "$0" "$DEB" "$CONSOLE_DEB" --inside "$SCRATCH" || rc=$?
  rmdir "$SCRATCH"
  exit "$rc"
fi

SCRATCH="$4"
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

if [ -n "$CONSOLE_DEB" ]; then
  VERSION="$(dpkg-deb -f "$DEB" Version)"
  # The version before this one, of the same length (4.1.5: 4.1.4, 4.2.0: 4.1.9), so that the
  # libraries' names can be changed in place in the binaries.
  OLDER="$(perl -e '$_ = shift; ($d = $_) =~ s/\D//g; $n = sprintf("%0*d", length $d, $d - 1);
                    s/\d/substr($n, $i++, 1)/ge; print' "$VERSION")"
  # older PACKAGE.deb OUT.deb: the package as the older release's: its version and its relations
  # to the other package, the libraries under the older release's names, and every binary's
  # record of them (SONAME, NEEDED) naming those.
  older() {
    local tree="$SCRATCH/older-tree"
    rm -rf "$tree"
    dpkg-deb -R "$1" "$tree"
    sed -i "s/^Version: .*/Version: $OLDER/; s/ ${VERSION//./\\.})/ $OLDER)/g" "$tree/DEBIAN/control"
    for lib in "$tree"/usr/lib/vigil/*.so."$VERSION"; do
      [ -e "$lib" ] && mv "$lib" "${lib%"$VERSION"}$OLDER"
    done
    find "$tree/usr" -type f \( -perm -u+x -o -name '*.so.*' \) -print0 |
      xargs -0 -r perl -0777 -pi -e "s/(lib\\w+\\.so\\.)\\Q$VERSION\\E(?=\\0)/\${1}$OLDER/g"
    (cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | xargs -0 md5sum >DEBIAN/md5sums)
    dpkg-deb -Zgzip -z1 -b "$tree" "$2" >/dev/null
  }
  older "$DEB" "$ROOT/package/vigil-$OLDER.deb"
  older "$CONSOLE_DEB" "$ROOT/package/vigil-console-$OLDER.deb"
  cp "$DEB" "$ROOT/package/vigil-$VERSION.deb"
  cp "$CONSOLE_DEB" "$ROOT/package/vigil-console-$VERSION.deb"
  mkdir -m 0700 "$ROOT/run/console"
  PREFIX="pkgmix$$."
  # What the console's programs leave in /dev/shm goes however this check ends (set -e included).
  trap 'rm -f /dev/shm/"$PREFIX"*' EXIT

  # programs RELEASE runs|refused: the console package's programs as a user starts them. Those
  # left among the libraries of another release are refused by the loader (status 127, a
  # library of their own release named) where they would crash.
  programs() {
    local release=$1 expected=$2 command out rc
    for command in "Tavona --help" "Pommet e:30" "Vigil95 --help"; do
      set +e
      out="$(in_root "cd /run/console && exec timeout -s KILL 60 env QT_QPA_PLATFORM=offscreen \
        XDG_RUNTIME_DIR=/run/console XDG_CONFIG_HOME=/run/console XDG_DATA_HOME=/run/console \
        VIGIL_MESSAGE_LOG=/run/console/boxes.log VIGIL_NAME_PREFIX=$PREFIX $command" 2>&1)"
      rc=$?
      set -e
      if [ "$expected" = runs ] && [ "$rc" -lt 2 ]; then
        echo "ok   $release: $command runs (status $rc)"
      elif [ "$expected" = refused ] && [ "$rc" -eq 127 ] &&
           grep -q "error while loading shared libraries: lib[A-Za-z_]*\.so\.${release//./\\.}:" <<<"$out"; then
        echo "ok   $release: $command refused (${out##*shared libraries: })"
      else
        echo "$out"; echo "FAIL $release: $command ended with status $rc, expected: $expected"; fail=1
      fi
    done
  }
  # pair RELEASE: both packages of the release at once, as apt hands an upgrade (or a
  # downgrade) to dpkg, whatever mix was there; then dpkg holds that pair, configured.
  pair() {
    local package now
    step "the pair of $1" "--auto-deconfigure -i /package/vigil-$1.deb /package/vigil-console-$1.deb"
    for package in vigil vigil-console; do
      now="$(in_root "dpkg-query -W -f='\${Version} \${Status}' $package" || true)"
      [ "$now" = "$1 install ok installed" ] || { echo "FAIL $package: $now, expected $1 configured"; fail=1; }
    done
  }
  # mix PACKAGE RELEASE PAIR: PACKAGE of release RELEASE with the pair of release PAIR
  # installed: dpkg refuses it and the pair still works. Forced, dpkg puts it in and leaves the
  # pair's other half unconfigured, and the console's programs, left among the libraries of the
  # other release, are refused by the loader.
  mix() {
    local package=$1 release=$2 pair=$3 now
    if ! in_root "dpkg --no-triggers -i /package/$package-$release.deb" >"$SCRATCH/dpkg.out" 2>&1 &&
       grep -q 'would break' "$SCRATCH/dpkg.out"; then
      echo "ok   $package $release with the pair of $pair: dpkg refuses"
    else
      cat "$SCRATCH/dpkg.out"; echo "FAIL $package $release with the pair of $pair: not refused"; fail=1
    fi
    programs "$pair" runs
    in_root "dpkg --no-triggers --auto-deconfigure -i /package/$package-$release.deb" >"$SCRATCH/dpkg.out" 2>&1 || true
    now="$(in_root "dpkg-query -W -f='\${Version}' $package" || true)"
    [ "$now" = "$release" ] || { cat "$SCRATCH/dpkg.out"; echo "FAIL $package $release, forced: dpkg holds $now"; fail=1; }
    if [ "$package" = vigil ]; then programs "$pair" refused; else programs "$release" refused; fi
  }
  pair "$OLDER"
  mix vigil "$VERSION" "$OLDER"
  pair "$VERSION"
  mix vigil "$OLDER" "$VERSION"
  pair "$OLDER"
  mix vigil-console "$VERSION" "$OLDER"
  pair "$VERSION"
  mix vigil-console "$OLDER" "$VERSION"
fi

[ "$fail" -eq 0 ] && echo "the package's life with dpkg: as expected"
exit "$fail"
