#!/usr/bin/env bash
# Takes the pictures of the user guide (docs/podrecznik.md) anew: builds the
# simulator and the Windows program with its end-to-end scenarios, runs the
# scenarios (ctest label "program") under Wine on a private Xvfb, so that
# every run draws the same screen, and puts the pictures they take
# (build/windows/screenshots/guide) into docs/images as palette PNGs where
# that is smaller.  Then the HTML copy, build/native/docs/podrecznik.html.
#
#   scripts/guide-screenshots.sh [-R REGEX]
#
# -R passes a test-name filter to ctest (then only the pictures of those
# scenarios are replaced, the others stay).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
filter=
if [ "${1:-}" = -R ] && [ -n "${2:-}" ]; then
    filter=$2
fi

[ -f build/native/CMakeCache.txt ] || cmake --preset native
[ -f build/windows/CMakeCache.txt ] || cmake --preset windows
cmake --build build/native --target kx305sim
# The scenarios' programs, the program itself, the UI driver and the
# companion library some scenarios put beside the program.
targets=$(ctest --test-dir build/windows -N -L program | sed -n 's/^ *Test *#[0-9]*: \(program_[a-z0-9_]*_wine_test\)$/\1/p')
# shellcheck disable=SC2086
cmake --build build/windows --target kx305mon kx305ui kx305_adv $targets

shots=build/windows/screenshots/guide
rm -rf "$shots"

xvfb=
stop() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
}
trap stop EXIT
fifo=$(mktemp -d)
mkfifo "$fifo/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo/display" >/dev/null 2>&1 &
xvfb=$!
number=
read -r -t 20 number <"$fifo/display" || true
rm -rf "$fifo"
if [ -z "$number" ]; then
    echo "Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=:$number KX305_WINE_NO_WM=1

ctest --test-dir build/windows -L program ${filter:+-R "$filter"} --output-on-failure

if ! ls "$shots"/*.png >/dev/null 2>&1; then
    echo "the scenarios took no pictures in $shots" >&2
    exit 1
fi
mkdir -p docs/images
[ -n "$filter" ] || rm -f docs/images/*.png
for shot in "$shots"/*.png; do
    out=docs/images/$(basename "$shot")
    # 256 colours hold a dialog's face, text and frame without loss most of
    # the time; the RGB original stays when it is not larger.
    convert "$shot" -strip -colors 256 "PNG8:$out.tmp"
    if [ "$(stat -c %s "$out.tmp")" -lt "$(stat -c %s "$shot")" ]; then
        mv "$out.tmp" "$out"
    else
        rm -f "$out.tmp"
        convert "$shot" -strip "$out"
    fi
done
echo "$(ls "$shots"/*.png | wc -l) pictures in docs/images ($(du -sh docs/images | cut -f1))"

cmake --build build/native --target guide_html
ctest --test-dir build/native -R '^guide_pictures$' --output-on-failure
echo "HTML: build/native/docs/podrecznik.html"
