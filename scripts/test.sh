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
# Warnings are errors.  Exits non-zero when any step fails.  The summary
# gives each stage's wall-clock time, and of it the time ctest took.
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh || exit 1

fuzz_seconds=${KX305_FUZZ_SECONDS:-30}
presets=(native native-asan native-tsan fuzz windows windows32)
[ $# -gt 0 ] && presets=("$@")

status=0
passed=0
failed=0
summary=()
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
trap stop_shared_display EXIT

# One stage; appends its summary line (without the preset's name) and sets
# test_started when ctest ran.
run_stage() {
    local preset=$1
    if [ "$preset" = windows32 ]; then
        echo "=== windows32: build and check the program and the DLL (nothing runs)"
        if ./scripts/check-windows32.sh; then
            summary+=("program, exports and link by import checked")
        else
            summary+=("check FAILED"); status=1
        fi
        return
    fi
    echo "=== $preset: configure and build"
    extra=(-DKX305_WERROR=ON)
    [ "$preset" = fuzz ] && extra+=(-DKX305_FUZZ_SECONDS="$fuzz_seconds")
    mkdir -p build
    if ! cmake --preset "$preset" "${extra[@]}" >"build/configure-$preset.log" 2>&1; then
        cat "build/configure-$preset.log"; summary+=("configure FAILED"); status=1; return
    fi
    if ! cmake --build --preset "$preset"; then
        summary+=("build FAILED"); status=1; return
    fi
    echo "=== $preset: test"
    test_started=$SECONDS
    log=$(mktemp)
    [ "$preset" = windows ] && start_shared_display
    ctest --preset "$preset" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    stop_shared_display
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        f=${BASH_REMATCH[1]}; t=${BASH_REMATCH[2]}
        failed=$((failed + f)); passed=$((passed + t - f))
    fi
    rm -f "$log"
    if [ "$rc" -ne 0 ]; then
        summary+=("tests FAILED ($line)"); status=1
    else
        summary+=("$line")
    fi
}

for preset in "${presets[@]}"; do
    started=$SECONDS
    test_started=
    run_stage "$preset"
    tested=
    [ -n "$test_started" ] && tested=" (test $(elapsed "$test_started"))"
    summary[-1]=$(printf '%-12s %6s%-14s %s' "$preset" "$(elapsed $started)" "$tested" "${summary[-1]}")
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "all stages: $(elapsed $started_all)"
echo "tests: $passed passed, $failed failed"
exit $status
