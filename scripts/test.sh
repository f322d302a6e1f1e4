#!/usr/bin/env bash
# Every test: installs what is missing, then builds and tests
#   native       g++, all tests
#   native-asan  all native tests under AddressSanitizer + UBSan
#   native-tsan  the threaded driver and acquisition tests under ThreadSanitizer
#   fuzz         every libFuzzer target for KX305_FUZZ_SECONDS (default 30) each
#   windows      mingw-w64 build, tests under Wine against the native simulator
#   windows32    32-bit kx305.dll and a C program linked by import: built and
#                checked with objdump, never run (scripts/check-windows32.sh)
# Warnings are errors.  Exits non-zero when any step fails.
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
for preset in "${presets[@]}"; do
    if [ "$preset" = windows32 ]; then
        echo "=== windows32: build and check exports (nothing runs)"
        if ./scripts/check-windows32.sh; then
            summary+=("windows32: exports and link by import checked")
        else
            summary+=("windows32: check FAILED"); status=1
        fi
        continue
    fi
    echo "=== $preset: configure and build"
    extra=(-DKX305_WERROR=ON)
    [ "$preset" = fuzz ] && extra+=(-DKX305_FUZZ_SECONDS="$fuzz_seconds")
    mkdir -p build
    if ! cmake --preset "$preset" "${extra[@]}" >"build/configure-$preset.log" 2>&1; then
        cat "build/configure-$preset.log"; summary+=("$preset: configure FAILED"); status=1; continue
    fi
    if ! cmake --build --preset "$preset"; then
        summary+=("$preset: build FAILED"); status=1; continue
    fi
    echo "=== $preset: test"
    log=$(mktemp)
    ctest --preset "$preset" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        f=${BASH_REMATCH[1]}; t=${BASH_REMATCH[2]}
        failed=$((failed + f)); passed=$((passed + t - f))
    fi
    rm -f "$log"
    if [ "$rc" -ne 0 ]; then
        summary+=("$preset: tests FAILED ($line)"); status=1
    else
        summary+=("$preset: $line")
    fi
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "tests: $passed passed, $failed failed"
exit $status
