#!/usr/bin/env bash
# How fast the consoles show the agent's first status, and what the central console costs while
# it watches: VigilNT -b on the simulated Smart-UPS, then
#   - trem_show CUpsInfoDlg over the local shared-memory channel and over UDP: the time from the
#     dialog's opening to its last reply ("filled after N ms", as trem_show prints it) and the
#     whole run of the program (start, UPS information, dialog filled, end), median of 5 each;
#   - Tavona c:3 n offscreen: the time from its start to its first picture of the main window
#     (VIGIL_SCREENSHOT_DIR), then its CPU time as a share of one core and its resident memory
#     (VmRSS now, VmHWM at peak) over SECONDS of watching.
# It fails (exit status 1, no figures) when a program ends early, a dialog never fills or the
# console shows no picture: then there was nothing to measure.
#
#   bench/console_first_status.sh [BUILD_DIR] [SECONDS]     (defaults: build/ci, 60)
#
# Nothing leaves the machine: the agent's commands are /bin/true, the console's message boxes
# are logged, not shown, and its agent start goes to a stand-in systemctl that only notes it.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build/ci}"
# The bench changes its directory below: a tree named relative to the current one is made whole.
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
SECONDS_MEASURED="${2:-60}"
RUNS=5
NAME="console bench"
WORKDIR_PREFIX="vigil-console-bench"
TREM_SHOW="$BUILD/tools/trem_show/trem_show"
TAVONA="$BUILD/console/Tavona"
for p in "$TREM_SHOW" "$TAVONA"; do
  [ -x "$p" ] || { echo "$NAME: $p is missing (build first: cmake --build $BUILD)" >&2; exit 2; }
done
. "$ROOT/bench/simulated_agent.sh"
start_simulator

TAVONA_PID=""
stop_console() {
  if [ -n "$TAVONA_PID" ] && kill -0 "$TAVONA_PID" 2>/dev/null; then
    kill -TERM "$TAVONA_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$TAVONA_PID" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$TAVONA_PID" 2>/dev/null || true
    wait "$TAVONA_PID" 2>/dev/null || true
  fi
}
trap 'stop_console; cleanup' EXIT

VIGIL_AGENT_CONF="$WORK/VigilNT.conf" VIGIL_DATA_DIR="$WORK" VIGIL_NAME_PREFIX="$NAME_PREFIX" \
  "$AGENT" -b -d "$PTY" >"$WORK/agent.out" 2>&1 &
AGENT_PID=$!
wait_for_identification
sleep 3  # past the first meter and configuration reads

# The consoles' own folders, under the bench's directory, which is also the current one (trem_show
# keeps its files there).
cd "$WORK"
export XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" QT_QPA_PLATFORM=offscreen
export VIGIL_MESSAGE_LOG="$WORK/boxes.log" VIGIL_NAME_PREFIX="$NAME_PREFIX"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
now_ms() { local t=$EPOCHREALTIME; echo $(( ${t%.*} * 1000 + 10#${t#*.} / 1000 )); }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# trem_show_runs LABEL ARGS...: RUNS runs; prints "filled-median whole-median".
trem_show_runs() {
  local label=$1; shift
  local filled=() whole=() k out t0 t1 ms
  for k in $(seq "$RUNS"); do
    out="$WORK/trem_show-$label-$k.out"
    t0=$(now_ms)
    if ! "$TREM_SHOW" CUpsInfoDlg "$@" --timeout 30 >"$out" 2>&1; then
      echo "$NAME: trem_show ($label, run $k) failed" >&2; tail -n 20 "$out" >&2; exit 1
    fi
    t1=$(now_ms)
    ms="$(sed -n 's/.*filled after \([0-9]*\) ms.*/\1/p' "$out" | tail -n 1)"
    [ -n "$ms" ] || { echo "$NAME: trem_show ($label, run $k) never filled the dialog" >&2; tail -n 20 "$out" >&2; exit 1; }
    filled+=("$ms")
    whole+=("$((t1 - t0))")
  done
  echo "$(printf '%s\n' "${filled[@]}" | median) $(printf '%s\n' "${whole[@]}" | median)"
}
read -r LOCAL_FILLED LOCAL_WHOLE < <(trem_show_runs local --local)
read -r UDP_FILLED UDP_WHOLE < <(trem_show_runs udp --host 127.0.0.1)

# The central console on the local channel: start to its first picture, then its cost.
SHOTS="$WORK/screens"
mkdir -p "$SHOTS"
cat >"$WORK/systemctl" <<'SH'
#!/bin/sh
echo "$*" >>"$(dirname "$0")/systemctl.log"
exit 1
SH
chmod +x "$WORK/systemctl"
t0=$(now_ms)
VIGIL_SCREENSHOT_DIR="$SHOTS" VIGIL_SYSTEMCTL="$WORK/systemctl" "$TAVONA" c:3 n >"$WORK/tavona.out" 2>&1 &
TAVONA_PID=$!
first=""
for _ in $(seq 3000); do
  kill -0 "$TAVONA_PID" 2>/dev/null || { echo "$NAME: Tavona ended before its first picture" >&2; cat "$WORK/tavona.out" "$VIGIL_MESSAGE_LOG" >&2 2>/dev/null; exit 1; }
  if compgen -G "$SHOTS/*.png" >/dev/null; then first=$(now_ms); break; fi
  sleep 0.01
done
[ -n "$first" ] || { echo "$NAME: Tavona showed no picture within 30 s" >&2; exit 1; }
FIRST_PICTURE=$((first - t0))
sleep 2  # past the first requests of its view

HZ="$(getconf CLK_TCK)"
T0="$(cpu_ticks "$TAVONA_PID")"
sleep "$SECONDS_MEASURED"
kill -0 "$TAVONA_PID" 2>/dev/null || { echo "$NAME: Tavona ended while measured" >&2; cat "$WORK/tavona.out" >&2; exit 1; }
T1="$(cpu_ticks "$TAVONA_PID")"
RSS_KB="$(awk '/^VmRSS/ {print $2}' "/proc/$TAVONA_PID/status")"
HWM_KB="$(awk '/^VmHWM/ {print $2}' "/proc/$TAVONA_PID/status")"
PICTURES="$(find "$SHOTS" -name '*.png' | wc -l)"

echo "consoles against VigilNT -b on the simulated Smart-UPS (median of $RUNS runs each)"
echo "  trem_show CUpsInfoDlg --local:   filled ${LOCAL_FILLED} ms after opening, ${LOCAL_WHOLE} ms the whole run"
echo "  trem_show CUpsInfoDlg over UDP:  filled ${UDP_FILLED} ms after opening, ${UDP_WHOLE} ms the whole run"
echo "  Tavona c:3 n (offscreen):        first picture ${FIRST_PICTURE} ms after start ($PICTURES pictures in all)"
awk -v t="$((T1 - T0))" -v hz="$HZ" -v s="$SECONDS_MEASURED" -v rss="$RSS_KB" -v hwm="$HWM_KB" 'BEGIN {
  cpu = t / hz;
  printf "  Tavona over %d s of watching:   CPU %.3f s per minute = %.2f %% of one core, resident %.1f MB now, %.1f MB at peak\n",
         s, cpu * 60 / s, cpu / s * 100, rss / 1024, hwm / 1024;
}'
