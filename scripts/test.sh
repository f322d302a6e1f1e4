#!/usr/bin/env bash
# Every test: installs what is missing, then builds and tests
#   native       g++, all tests
#   native-asan  all native tests under AddressSanitizer + UBSan
#   native-tsan  the threaded driver and acquisition tests under ThreadSanitizer
#   fuzz         every libFuzzer target for KX305_FUZZ_SECONDS (default 30) each
#   windows      mingw-w64 build, tests under Wine against the native simulator
#   windows32    32-bit kx305mon.exe, kx305.dll and a C program linked by
#                import: built and checked with objdump against the windows
#                stage's program, never run (scripts/check-windows32.sh)
# Warnings are errors.  Exits non-zero when any step fails.
#
# The builds run one after another, at a lower priority (nice); a stage's
# tests start as soon as its build is done and run beside the next builds.
# The tests mostly wait for simulated converters and Wine, so they keep
# their timing while the compiler takes the idle cores.  The Windows tests
# have a lane of their own; the native stages' tests take turns in the
# other, so at most two ctest runs overlap, as many as there are lanes.
# The summary gives each stage's build and test times, and the whole run's.
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh || exit 1

fuzz_seconds=${KX305_FUZZ_SECONDS:-30}
presets=(native windows native-asan native-tsan fuzz windows32)
[ $# -gt 0 ] && presets=("$@")

status=0
passed=0
failed=0
started_all=$SECONDS

# Minutes and seconds since $1 (a value of $SECONDS).
elapsed() {
    local s=$((SECONDS - $1))
    printf '%dm%02ds' $((s / 60)) $((s % 60))
}

# One Xvfb for the whole Windows stage when there is no display: Wine's
# server keeps the display it started on, so tests that each brought their
# own Xvfb (scripts/wine-run) would wait for the previous server to end.
shared_xvfb=
start_shared_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    command -v Xvfb >/dev/null 2>&1 || return 0
    local dir number=
    dir=$(mktemp -d)
    mkfifo "$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
    shared_xvfb=$!
    read -r -t 20 number <"$dir/display"
    rm -rf "$dir"
    if [ -n "$number" ]; then
        export DISPLAY=:$number KX305_WINE_NO_WM=1
    else
        stop_shared_display
    fi
}
stop_shared_display() {
    [ -n "$shared_xvfb" ] || return 0
    kill "$shared_xvfb" 2>/dev/null
    wait "$shared_xvfb" 2>/dev/null
    shared_xvfb=
    unset DISPLAY KX305_WINE_NO_WM
}


mkdir -p build
results=$(mktemp -d)
lane_native=
lane_windows=
kill_lanes() {
    local pid
    for pid in $lane_native $lane_windows; do kill -- "-$pid" 2>/dev/null; done
}
trap 'kill_lanes; exit 130' INT TERM

# Configures and builds one preset; records its build time.
build_stage() {
    local preset=$1 started=$SECONDS extra=(-DKX305_WERROR=ON)
    echo "=== $preset: configure and build"
    [ "$preset" = fuzz ] && extra+=(-DKX305_FUZZ_SECONDS="$fuzz_seconds")
    if ! cmake --preset "$preset" "${extra[@]}" >"build/configure-$preset.log" 2>&1; then
        cat "build/configure-$preset.log"
        echo "configure FAILED" >"$results/$preset.result"
        return 1
    fi
    if ! nice -n 19 cmake --build --preset "$preset"; then
        echo "build FAILED" >"$results/$preset.result"
        elapsed "$started" >"$results/$preset.build"
        return 1
    fi
    elapsed "$started" >"$results/$preset.build"
}

# Runs one preset's tests (in the background: its output goes to
# build/test-<preset>.log and is printed whole when it ends); records the
# test time, the counts and the result line.
test_stage() {
    local preset=$1 started=$SECONDS log=build/test-$1.log rc line f t
    local run=(ctest --preset "$preset")
    # Fuzzers spend all the time they are given: they may yield to the rest.
    [ "$preset" = fuzz ] && run=(nice -n 19 "${run[@]}")
    if [ "$preset" = windows ]; then
        trap stop_shared_display EXIT
        start_shared_display
    fi
    "${run[@]}" >"$log" 2>&1
    rc=$?
    stop_shared_display
    echo "=== $preset: tests ($(elapsed "$started"))"
    cat "$log"
    elapsed "$started" >"$results/$preset.test"
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        f=${BASH_REMATCH[1]}; t=${BASH_REMATCH[2]}
        echo "$((t - f)) $f" >"$results/$preset.counts"
    fi
    if [ "$rc" -ne 0 ]; then
        echo "tests FAILED ($line)" >"$results/$preset.result"
    else
        echo "$line" >"$results/$preset.result"
    fi
}

# Starts the tests of a built preset in its lane, after the lane's previous
# run has ended.  Each lane is its own process group, so an interrupt stops
# everything it started.
start_tests() {
    local preset=$1 previous
    if [ "$preset" = windows ]; then
        previous=$lane_windows
    else
        previous=$lane_native
    fi
    [ -n "$previous" ] && wait "$previous"
    set -m
    test_stage "$preset" &
    set +m
    if [ "$preset" = windows ]; then lane_windows=$!; else lane_native=$!; fi
}

for preset in "${presets[@]}"; do
    if [ "$preset" = windows32 ]; then
        started=$SECONDS
        echo "=== windows32: build and check the program and the DLL (nothing runs)"
        if nice -n 19 ./scripts/check-windows32.sh; then
            echo "program, exports and link by import checked" >"$results/$preset.result"
        else
            echo "check FAILED" >"$results/$preset.result"
        fi
        elapsed "$started" >"$results/$preset.build"
        continue
    fi
    build_stage "$preset" && start_tests "$preset"
done
[ -n "$lane_native" ] && wait "$lane_native"
[ -n "$lane_windows" ] && wait "$lane_windows"

echo
echo "=== summary (build: configure and build; test: ctest, beside the later builds)"
for preset in "${presets[@]}"; do
    build=$(cat "$results/$preset.build" 2>/dev/null)
    tested=$(cat "$results/$preset.test" 2>/dev/null)
    result=$(cat "$results/$preset.result" 2>/dev/null || echo "not run")
    [[ $result == *FAILED* || $result == "not run" ]] && status=1
    if [ -f "$results/$preset.counts" ]; then
        read -r p f <"$results/$preset.counts"
        passed=$((passed + p)); failed=$((failed + f))
    fi
    printf '%-12s build %6s  test %6s  %s\n' "$preset" "${build:--}" "${tested:--}" "$result"
done
rm -rf "$results"
echo "all stages: $(elapsed $started_all)"
echo "tests: $passed passed, $failed failed"
exit $status
