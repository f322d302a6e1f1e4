#!/usr/bin/env bash
# Reviewing a large registration file in kx305mon.exe under Wine: "O&K" in
# the read-source dialog to the first record of the memory viewer beside
# ReadRegistrationFile alone, the viewer's memory beside the record list's,
# and its step time near the first and the last record
# (bench/review_bench_win32.cpp).  Builds nothing: it runs the benchmark of
# the Windows build tree with the simulators (the program starts live on
# one of them) and a display (Xvfb when there is none).
#
#   bench/review_bench.sh [MEGABYTES [STEPS]]   (default 100 MB, 50 steps)
#
# Build first (build/native for the simulator):
#   cmake --build --preset native --target kx305sim
#   cmake --preset windows -B build/windows-bench -DKX305_BENCH=ON
#   cmake --build build/windows-bench --target review_bench
# KX305_BENCH_BUILD chooses another Windows build tree.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KX305_BENCH_BUILD:-build/windows-bench}
bench=$build/bench/review_bench.exe
program=$build/driver/kx305mon.exe
sim=build/native/sim/kx305sim
for file in "$bench" "$program" "$sim"; do
    [ -e "$file" ] || { echo "review_bench: $file is missing (see the build lines in $0)" >&2; exit 1; }
done
# Wine's windows unmanaged, whatever the display: a managed window that
# hides (dialog 122 ending) makes Wine wait up to 2 s for a window manager's
# answer, and the figures would be Wine's instead of the program's.
export KX305_WINE_NO_WM=1
export KX305_WINE_DISPLAY=1 KX305MON_EXE="$(pwd)/$program"
exec scripts/wine-sim-run "$sim" "$bench" "$@"
