# Shared by the timed agent benchmarks (sourced, not run): checks the build, makes a working
# directory and a prefix for the named objects (NAME_PREFIX) that are removed on exit together
# with the agent and the simulator, starts the simulated Smart-UPS and writes the agent's
# settings with harmless stand-ins.
#
# The sourcing script sets NAME (for messages), BUILD and WORKDIR_PREFIX first.

AGENT="$BUILD/agent/VigilNT"
SIM="$BUILD/tools/upssim"
for p in "$AGENT" "$SIM"; do
  [ -x "$p" ] || { echo "$NAME: $p is missing (build first: scripts/test or cmake --build $BUILD)" >&2; exit 2; }
done

# The agent binds UDP port 7010, as the tests' agents do: the bench takes the tests' machine-wide
# lock on the port first, so that a bench and a test run never start two agents on it. Same
# protocol as the tests: the holder removes the file when it lets go, and a waiter that then
# holds the lock of a removed file starts again on the file now at the path.
PORT_LOCK=/tmp/vigil-udp_port_7010.lock
PORT_LOCK_HELD=""
take_port_lock() {
  local said=""
  while :; do
    if ! { exec 9<"$PORT_LOCK"; } 2>/dev/null; then
      (set -C; : >"$PORT_LOCK") 2>/dev/null || true
      continue
    fi
    if ! flock -n 9; then
      [ -n "$said" ] || echo "$NAME: waiting for the tests to let go of UDP port 7010" >&2
      said=1
      flock 9
    fi
    if [ "$(stat -L -c %d:%i /proc/self/fd/9)" = "$(stat -c %d:%i "$PORT_LOCK" 2>/dev/null)" ]; then
      PORT_LOCK_HELD=1
      return 0
    fi
    exec 9<&-
  done
}

WORK="$(mktemp -d "/tmp/$WORKDIR_PREFIX.XXXXXX")"
# The named objects (files in /dev/shm) of the bench's programs go under a prefix of its own,
# ended by a '.' so that no other run's prefix begins with it; they go with the working
# directory, once every program of the bench has ended.
NAME_PREFIX="$WORKDIR_PREFIX$$."
SIM_PID=""
AGENT_PID=""
cleanup() {
  [ -n "$AGENT_PID" ] && kill "$AGENT_PID" 2>/dev/null && wait "$AGENT_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  rm -rf "$WORK"
  rm -f /dev/shm/"$NAME_PREFIX"*
  if [ -n "$PORT_LOCK_HELD" ]; then
    rm -f "$PORT_LOCK"
    exec 9<&-
  fi
}
trap cleanup EXIT
take_port_lock

# start_simulator ARGS...: the simulated Smart-UPS in the background; sets PTY.
start_simulator() {
  "$SIM" --mode apc --no-stdin "$@" >"$WORK/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do grep -q '^READY' "$WORK/sim.out" 2>/dev/null && break; sleep 0.1; done
  PTY="$(sed -n 's/^PTY //p' "$WORK/sim.out")"
  [ -n "$PTY" ] || { echo "$NAME: the simulator did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }
}

# The agent's settings: nothing it starts can touch the machine or a terminal.
cat >"$WORK/VigilNT.conf" <<CONF
shutdown_command = /bin/true
reboot_command = /bin/true
saver_command = /bin/true
snmp_service =
user_terminals = no
CONF

# wait_for_identification: waits (at most 120 s) until the agent (AGENT_PID) has detected and
# identified the UPS (the default actions go to notify.dat then); fails the bench when the agent
# ends or nothing is identified: a bench of an agent that watches no UPS measures nothing.
wait_for_identification() {
  for _ in $(seq 600); do
    kill -0 "$AGENT_PID" 2>/dev/null || { echo "$NAME: the agent ended" >&2; tail -n 20 "$WORK/agent.out" >&2; exit 1; }
    [ -s "$WORK/notify.dat" ] && return 0
    sleep 0.2
  done
  echo "$NAME: the UPS was not identified within 120 s" >&2
  tail -n 20 "$WORK/agent.out" >&2
  exit 1
}

# cpu_ticks PID: the user and system CPU time the process has used, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
