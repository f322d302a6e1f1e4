#!/usr/bin/env bash
# What kx305mon.exe adds to each polling cycle, under Wine against an unpaced
# simulator (the driver's transactions then take almost nothing, so what is
# left is the program's own work).  Runs scripts/run.sh --unpaced for
# SECONDS (default 60) with KX305MON_CYCLE_LOG, then summarises the log:
# per cycle, the time beyond the driver's transactions and the 250 ms pause,
# and the cost of the display update on the UI thread; median and p99.
# Goal: below 5 ms per cycle.
#
#   bench/program_cycle_bench.sh [SECONDS]
#   bench/program_cycle_bench.sh --log FILE   only summarise an existing log
#
# The log has one line per cycle of NAME=MICROSECONDS fields (the program
# writes it; see CycleTiming in monitor/acquisition/app_context.h for the
# worker's fields): "transaction" the driver's calls, "operation" a device
# operation of that cycle, "cycle" the whole cycle without the pause,
# "events" the worker's event calls, and "display" the UI thread's handling
# of the cycle's snapshot.  Fields it does not know are listed and ignored.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --log ]; then
    log=$2
else
    seconds=${1:-60}
    mkdir -p build/demo
    log=$(pwd)/build/demo/cycles.log
    rm -f "$log"
    KX305MON_CYCLE_LOG="Z:${log//\//\\}" ./scripts/run.sh --unpaced --seconds "$seconds" --every 10 >build/demo/bench-run.out 2>&1 ||
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

worker = [added(r) for r in rows]
display = [r["display"] for r in rows if "display" in r]
total = [added(r) + r.get("display", 0) for r in rows]
print(f"cycles: {len(rows)}")
if unknown:
    print("ignored fields: " + ", ".join(sorted(unknown)))
def show(name, values):
    if values:
        print(f"{name:<42} median {percentile(values, 50)/1000:7.3f} ms   p99 {percentile(values, 99)/1000:7.3f} ms")
show("worker, beyond the driver and the pause", worker)
show("display update (UI thread)", display)
show("program total per cycle", total)
p99 = percentile(total, 99)
print(f"goal < 5 ms per cycle: {'met' if p99 < 5000 else 'NOT met'} (p99 {p99/1000:.3f} ms)")
PY
