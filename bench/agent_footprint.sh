#!/usr/bin/env bash
# Footprint of the agent: VigilNT, run as the service runs it (trace off), polls the simulated
# Smart-UPS on a pseudo-terminal for a measured minute. Reports the CPU time it used in that
# minute (and as a share of one core), its resident memory at the end and at its peak, and how
# many requests the UPS answered. Targets: under 0.2 % of one core, under 8 MB resident.
# It fails (exit status 1, no figures) when the agent ends, does not identify the UPS, or sends
# it no request while measured: then there was nothing to measure.
#
#   bench/agent_footprint.sh [BUILD_DIR] [SECONDS]     (defaults: build/ci, 60)
#
# Nothing leaves the machine; the shutdown command points at /bin/true.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build/ci}"
SECONDS_MEASURED="${2:-60}"
NAME="footprint"
WORKDIR_PREFIX="vigil-footprint"
. "$ROOT/bench/simulated_agent.sh"
start_simulator --log "$WORK/ups.log"

# Service mode (trace off) without a service manager to report to.
INVOCATION_ID=footprint VIGIL_AGENT_CONF="$WORK/VigilNT.conf" VIGIL_DATA_DIR="$WORK" \
  VIGIL_NAME_PREFIX="$NAME_PREFIX" "$AGENT" -d "$PTY" >"$WORK/agent.out" 2>&1 &
AGENT_PID=$!

wait_for_identification
sleep 5  # past the first meter and configuration reads

HZ="$(getconf CLK_TCK)"
REQ_BEFORE="$(grep -c ' REQ ' "$WORK/ups.log" || true)"
T0="$(cpu_ticks "$AGENT_PID")"
sleep "$SECONDS_MEASURED"
T1="$(cpu_ticks "$AGENT_PID")"
REQ_AFTER="$(grep -c ' REQ ' "$WORK/ups.log" || true)"
kill -0 "$AGENT_PID" 2>/dev/null || { echo "footprint: the agent ended while measured" >&2; cat "$WORK/agent.out" >&2; exit 1; }
RSS_KB="$(awk '/^VmRSS/ {print $2}' "/proc/$AGENT_PID/status")"
HWM_KB="$(awk '/^VmHWM/ {print $2}' "/proc/$AGENT_PID/status")"
THREADS="$(awk '/^Threads/ {print $2}' "/proc/$AGENT_PID/status")"
if [ "$((REQ_AFTER - REQ_BEFORE))" -le 0 ]; then
  echo "footprint: the agent sent the UPS no request in the measured $SECONDS_MEASURED s (not polling)" >&2
  exit 1
fi

awk -v t="$((T1 - T0))" -v hz="$HZ" -v s="$SECONDS_MEASURED" -v rss="$RSS_KB" -v hwm="$HWM_KB" \
    -v req="$((REQ_AFTER - REQ_BEFORE))" -v threads="$THREADS" 'BEGIN {
  cpu = t / hz;
  printf "agent footprint over %d s of polling (%d UPS requests answered, %d threads)\n", s, req, threads;
  printf "  CPU time:  %.3f s per minute = %.3f %% of one core   (target < 0.2 %%)\n", cpu * 60 / s, cpu / s * 100;
  printf "  resident:  %.1f MB now, %.1f MB at peak               (target < 8 MB)\n", rss / 1024, hwm / 1024;
}'
