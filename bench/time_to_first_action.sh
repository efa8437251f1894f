#!/usr/bin/env bash
# Time from a mains failure to the agent's first action: VigilNT in the foreground polls the
# simulated Smart-UPS on a pseudo-terminal; the simulator fails the mains, and the time until
# the on-battery message box (the default actions' console warning, delay 0) appears on the
# agent's standard output is measured. The mains come back after each trial. Prints every
# trial, the mean and the worst. Target: one poll round plus one monitor pass, about 4 s.
# It fails (exit status 1) when no UPS is detected and identified, when the agent does not
# poll it, or when a mains failure brings no action.
#
#   bench/time_to_first_action.sh [BUILD_DIR] [TRIALS]     (defaults: build/ci, 5)
#
# Nothing leaves the machine and no terminal is written to; the shutdown, reboot and saver
# commands point at /bin/true.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build/ci}"
TRIALS="${2:-5}"
NAME="time to first action"
WORKDIR_PREFIX="vigil-first-action"
. "$ROOT/bench/simulated_agent.sh"
start_simulator --control "$WORK/ups.sock" --log "$WORK/ups.log"

VIGIL_AGENT_CONF="$WORK/VigilNT.conf" VIGIL_DATA_DIR="$WORK" VIGIL_NAME_PREFIX="$NAME_PREFIX" \
  "$AGENT" -b -d "$PTY" >"$WORK/messages.txt" 2>"$WORK/trace.txt" &
AGENT_PID=$!

python3 - "$WORK" "$TRIALS" "$AGENT_PID" <<'PY'
import os, socket, sys, time

work, trials, agent = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def alive():
    try:
        os.kill(agent, 0)
        return True
    except OSError:
        return False

def ups(command):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(os.path.join(work, "ups.sock"))
        s.sendall((command + "\n").encode())
        s.settimeout(5)
        answer = b""
        while not (answer.endswith(b"\n") and (b"OK" in answer or b"ERR" in answer)):
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
        return answer.decode(errors="replace").strip().splitlines()[-1] if answer else ""

def text(name):
    try:
        with open(os.path.join(work, name), errors="replace") as f:
            return f.read()
    except OSError:
        return ""

def wait_for(condition, limit):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if condition():
            return True
        if not alive():
            sys.exit("time to first action: the agent ended\n" + text("trace.txt")[-3000:])
        time.sleep(0.02)
    return False

def requests():
    return text("ups.log").count(" REQ ")

# Detected, identified (the default actions are in place) and polling; without that there is
# nothing to measure.
if not wait_for(lambda: "Detection of UPS took" in text("trace.txt"), 120):
    sys.exit("time to first action: no UPS was detected\n" + text("messages.txt")[-2000:])
if not wait_for(lambda: os.path.exists(os.path.join(work, "notify.dat")), 120):
    sys.exit("time to first action: the UPS was not identified")
polled = requests()
if not wait_for(lambda: requests() > polled, 30):
    sys.exit("time to first action: the agent does not poll the UPS")
time.sleep(3)

times = []
for i in range(trials):
    failures = text("messages.txt").count("Power Failure")
    restores = text("messages.txt").count("Power Restored")
    start = time.monotonic()
    ups("mains fail")
    if not wait_for(lambda: text("messages.txt").count("Power Failure") > failures, 60):
        sys.exit("time to first action: no action after the mains failure")
    times.append(time.monotonic() - start)
    print("trial %d: mains failure to first action %.2f s" % (i + 1, times[-1]), flush=True)
    ups("mains ok")
    if not wait_for(lambda: text("messages.txt").count("Power Restored") > restores, 60):
        sys.exit("time to first action: the mains return was not seen")
    time.sleep(1.5)  # the next failure starts at a different point of the poll round

print("time to first action over %d trials: mean %.2f s, worst %.2f s   (target about 4 s)"
      % (len(times), sum(times) / len(times), max(times)))
PY
