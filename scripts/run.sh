#!/usr/bin/env bash
# The main job: the monitoring program kx305mon.exe at work on a simulated
# KX-305 converter.  Installs what is missing, builds the native simulator
# and the Windows program, starts a simulated converter on COM1 of a demo
# Wine prefix (build/demo-prefix), stores a quick start in the program's
# settings (port 1, a registration file under build/demo) and runs the
# program: on your display when $DISPLAY works, otherwise under Xvfb.  Every
# few seconds it prints the live panel texts read from the program's window
# and the path of a fresh screenshot, until Ctrl-C or --seconds.
#
#   scripts/run.sh [--seconds N] [--first-run] [--every S] [--unpaced]
#     --seconds N   stop after N seconds (default: run until Ctrl-C)
#     --first-run   start from an empty settings key: the program asks
#                   whether to register and shows its port and export
#                   dialogs (operate them on the display)
#     --every S     seconds between two prints (default 3)
#     --unpaced     the simulator answers at once instead of at 9600 baud
#   scripts/run.sh cli [ARGS...]
#       the command-line front end kx305cli instead (native build only),
#       e.g. scripts/run.sh cli read --port /dev/ttyUSB0; without ARGS it
#       reads the built-in simulator for 10 polling cycles.
#
# The environment reaches the program (KX305MON_CYCLE_LOG=<file>, for
# example; bench/program_cycle_bench.sh uses it).  On exit the program, the
# simulator, Xvfb and the demo prefix's Wine server are stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" = cli ]; then
    shift
    ./scripts/setup.sh --native-only
    cmake --preset native >/dev/null
    cmake --build --preset native --target kx305cli kx305sim
    if [ $# -eq 0 ]; then
        set -- read --count 10
    fi
    exec build/native/cli/kx305cli "$@"
fi

seconds=0
first_run=0
every=3
pace=(--pace)
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=$2; shift 2 ;;
        --first-run) first_run=1; shift ;;
        --every) every=$2; shift 2 ;;
        --unpaced) pace=(); shift ;;
        *) echo "run.sh: unknown option $1 (see the comment at the top of scripts/run.sh)" >&2; exit 2 ;;
    esac
done

./scripts/setup.sh
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake --preset native "${launcher[@]}" >/dev/null
cmake --build build/native --target kx305sim
cmake --preset windows "${launcher[@]}" >/dev/null
cmake --build build/windows --target kx305mon kx305ui
mon=$(find build/windows -name kx305mon.exe -type f | head -n 1)
ui=$(find build/windows -name kx305ui.exe -type f | head -n 1)
if [ -z "$mon" ] || [ -z "$ui" ]; then
    echo "run.sh: kx305mon.exe or kx305ui.exe was not built" >&2
    exit 1
fi
mon=$root/$mon
ui=$root/$ui

demo=$root/build/demo
mkdir -p "$demo"
export KX305_WINEPREFIX=$root/build/demo-prefix
# One Wine server for the whole demo (the device links stay as set below).
export KX305_WINESERVER_PERSIST=60
prefix=$(./scripts/wine-run --prefix "$mon")
wineserver=wineserver
[ -x /usr/lib/wine/wineserver64 ] && wineserver=/usr/lib/wine/wineserver64

sim_pid= xvfb_pid= mon_pid=
cleanup() {
    trap - EXIT INT TERM
    [ -n "$mon_pid" ] && kill "$mon_pid" 2>/dev/null && wait "$mon_pid" 2>/dev/null
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -f "$prefix/dosdevices/com1" "$prefix.display"
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The user's display when it answers, else a private Xvfb.
display_works() {
    [ -n "${DISPLAY:-}" ] || return 1
    xset q >/dev/null 2>&1 || xdpyinfo >/dev/null 2>&1
}
if ! display_works; then
    fifo=$(mktemp -d)
    mkfifo "$fifo/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 number <"$fifo/display" || true
    rm -rf "$fifo"
    [ -n "${number:-}" ] || { echo "run.sh: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$number KX305_WINE_NO_WM=1
    echo "Display: Xvfb $DISPLAY (no usable \$DISPLAY)"
else
    echo "Display: $DISPLAY"
fi
# A Wine server left from a run on another display would keep that display.
WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
rm -f "$prefix.display"

kx305ui() { ./scripts/wine-run "$ui" "$@"; }
key='Software\Velmor\KX-305V\2.3'
kx305ui reg delete "$key" >/dev/null
if [ $first_run = 0 ]; then
    logfile="Z:${demo//\//\\}\\pomiary.kxg"
    kx305ui reg set-dword "$key" Flags 511 >/dev/null
    kx305ui reg set-dword "$key" Port 1 >/dev/null
    kx305ui reg set-string "$key" Logfile "$logfile" >/dev/null
    kx305ui reg set-string "$key" "RainMeter Name" "Deszczomierz KX-305" >/dev/null
    kx305ui reg set-dword "$key" "RainMeter Serial" 0 >/dev/null
    kx305ui reg set-dword "$key" "RainMeter Cal" 1000 >/dev/null
    kx305ui reg set-dword "$key" "RainMeter Period" 1 >/dev/null
    kx305ui reg set-dword "$key" KX125AV 1 >/dev/null
    kx305ui reg set-dword "$key" QUICK_START 1 >/dev/null
    kx305ui reg set-dword "$key" SHOW_QMV 0 >/dev/null
    echo "Settings: quick start on COM1, registration file $logfile"
else
    echo "Settings: none (first run)"
fi

# The simulated converter, linked once the Wine server runs (its device
# manager, starting with the server, links com1 to /dev/ttyS0): firmware 1.13, the rain gauge on input 0, a KX-124
# on 1, KX-125 and KX-129 on 2 and 3, a log period of one minute and records
# waiting in its memory.
sim_log=$demo/kx305sim.log
build/native/sim/kx305sim --link "$prefix/dosdevices/com1" --control "$demo/com1.sock" \
    --firmware 1.13 --serial 3051 --period 60 --prefill 20 --input 1=kx124,serial=1201 "${pace[@]}" \
    >"$sim_log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$sim_log" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$sim_log" >&2; exit 1; }
    sleep 0.1
done

./scripts/wine-run "$mon" >"$demo/kx305mon.out" 2>&1 &
mon_pid=$!
echo "kx305mon.exe started; Ctrl-C ends the demo"

title='Konwerter KX-305'
started=$SECONDS
while kill -0 "$mon_pid" 2>/dev/null; do
    sleep "$every"
    kill -0 "$mon_pid" 2>/dev/null || break
    shot=$demo/screen.png
    echo "---- $(date +%T)"
    # id <TAB> class <TAB> text: the panels 1010..1024 and the status 1025.
    kx305ui controls --timeout-ms 2000 "$title" 2>/dev/null |
        awk -F'\t' '$1 >= 1010 && $1 <= 1025 { gsub(/\\r\\n/, " | ", $3); printf "%s  %s\n", $1, $3 }' || true
    kx305ui msgbox --timeout-ms 1 2>/dev/null | sed 's/^/message box: /' || true
    kx305ui screenshot "Z:${shot//\//\\}" >/dev/null 2>&1 && echo "screenshot: $shot"
    if [ "$seconds" -gt 0 ] && [ $((SECONDS - started)) -ge "$seconds" ]; then
        break
    fi
done
if kill -0 "$mon_pid" 2>/dev/null; then
    kx305ui command "$title" 40005 >/dev/null 2>&1 || true
    for _ in $(seq 100); do
        kill -0 "$mon_pid" 2>/dev/null || break
        sleep 0.1
    done
fi
if ! kill -0 "$mon_pid" 2>/dev/null; then
    status=0
    wait "$mon_pid" || status=$?
    mon_pid=
    echo "kx305mon.exe ended with $status"
else
    echo "kx305mon.exe did not close (a dialog or message box open?); stopping it"
fi
