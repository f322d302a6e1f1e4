#!/usr/bin/env bash
# What kx305mon.exe adds to each polling cycle, under Wine against an unpaced
# simulator (the driver's transactions then take almost nothing, so what is
# left is the program's own work).  Runs scripts/run.sh --unpaced for
# SECONDS (default 60) with KX305MON_CYCLE_LOG, then summarises the log:
# per cycle, the time beyond the driver's transactions and the 250 ms pause,
# and the cost of the display update on the UI thread; median and p99.
# Goal: below 5 ms per cycle.  The demo reads the window only once, at the
# end: its readings from another process would show up in the figures.
#
#   bench/program_cycle_bench.sh [SECONDS]
#   bench/program_cycle_bench.sh --log FILE   only summarise an existing log
#
# The log has one line per cycle of NAME MICROSECONDS pairs ("cycle 812
# transaction 640 ..."; NAME=MICROSECONDS is read too), written by the
# program (CycleLogLine in monitor/shell/main_window.cpp; the worker's
# fields are CycleTiming's in monitor/acquisition/app_context.h):
# "transaction" the driver's calls, "operation" a device operation of that
# cycle, "cycle" the whole cycle without the pause,
# "events" the worker's event calls, and "display" the UI thread's latest
# display update when the line was written (a cycle whose snapshot the UI
# has not yet taken repeats the previous figure).  Fields it does not know
# are listed and ignored.  The cycles are summarised as a whole and
# without the first five (the first painting and the first download).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --log ]; then
    log=$2
else
    seconds=${1:-60}
    mkdir -p build/demo
    log=$(pwd)/build/demo/cycles.log
    rm -f "$log"
    KX305MON_CYCLE_LOG="Z:${log//\//\\}" ./scripts/run.sh --unpaced --seconds "$seconds" --every "$seconds" >build/demo/bench-run.out 2>&1 ||
        { tail -20 build/demo/bench-run.out >&2; exit 1; }
fi
[ -s "$log" ] || { echo "program_cycle_bench: no cycle log at $log (is KX305MON_CYCLE_LOG supported?)" >&2; exit 1; }

python3 - "$log" <<'PY'
import re, sys

def percentile(values, p):
    if not values:
        return float("nan")
    s = sorted(values)
    k = min(len(s) - 1, max(0, int(round(p / 100.0 * (len(s) - 1)))))
    return s[k]

rows, unknown = [], set()
known = {"transaction", "operation", "cycle", "events", "livedata", "display", "program"}
for line in open(sys.argv[1], encoding="latin-1"):
    fields = dict(re.findall(r"([A-Za-z_]+)[= ](-?\d+)", line))
    if not fields:
        continue
    unknown |= set(fields) - known
    rows.append({k: int(v) for k, v in fields.items()})
if not rows:
    sys.exit("program_cycle_bench: the log holds no NAME=MICROSECONDS lines")

def added(r):
    if "cycle" in r and "transaction" in r:
        return r["cycle"] - r["transaction"] - r.get("operation", 0)
    return r.get("events", 0)

def show(name, values):
    if values:
        print(f"  {name:<40} median {percentile(values, 50)/1000:7.3f} ms   p99 {percentile(values, 99)/1000:7.3f} ms")

def report(title, part):
    print(f"{title}: {len(part)} cycles")
    show("worker, beyond the driver and the pause", [added(r) for r in part])
    show("display update (UI thread)", [r["display"] for r in part if "display" in r])
    total = [added(r) + r.get("display", 0) for r in part]
    show("program total per cycle", total)
    p99 = percentile(total, 99)
    print(f"  goal < 5 ms per cycle: {'met' if p99 < 5000 else 'NOT met'} (p99 {p99/1000:.3f} ms)")
    return p99

if unknown:
    print("ignored fields: " + ", ".join(sorted(unknown)))
# The first cycles include the window's first painting and the first
# download of the logging memory.
report("all cycles", rows)
if len(rows) > 20:
    report("after the first 5 cycles", rows[5:])
PY
