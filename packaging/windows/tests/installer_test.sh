#!/usr/bin/env bash
# The installer under Wine, in a prefix of its own made fresh for the run:
# installer_wine_test.exe's first step (silent install, the installed program
# on a simulated converter), then the SDK's C example built against the
# installed headers and import library, then the second step (the example
# through the installed DLL, the upgrade, the uninstall).
#
#   installer_test.sh SETUP TEST_EXE SIM VERSION CC
set -uo pipefail
if [ $# -ne 5 ]; then
    echo "usage: installer_test.sh SETUP TEST_EXE SIM VERSION CC" >&2
    exit 2
fi
setup=$1 test=$2 sim=$3 version=$4 cc=$5
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
fail() { echo "installer_test: $*" >&2; exit 1; }

work=$(dirname "$test")/installer-run
export KX305_WINEPREFIX=$work/prefix
stop_wine() { [ -d "$KX305_WINEPREFIX" ] && WINEPREFIX=$KX305_WINEPREFIX /usr/lib/wine/wineserver64 -k 2>/dev/null; true; }
stop_wine
rm -rf "$work"
mkdir -p "$work"
trap stop_wine EXIT
"$scripts/wine-run" --prefix "$test" >/dev/null || fail "the Wine prefix could not be made"

echo "installer: $(basename "$setup"): $(stat -c %s "$setup") bytes"
export KX305_SETUP=$setup KX305_VERSION=$version KX305_WINE_DISPLAY=1
"$scripts/wine-sim-run" "$sim" "$test" --gtest_filter='Installer.SilentInstall*' || fail "install step failed"

sdk="$KX305_WINEPREFIX/drive_c/Program Files/KX-305/SDK"
"$cc" -std=c99 -Wall -Wextra -Werror -I"$sdk/include" "$sdk/examples/read.c" -L"$sdk/lib64" -lkx305 \
    -o "$work/read.exe" || fail "the SDK's example does not build against the installed SDK"
export KX305_SDK_EXAMPLE=$work/read.exe
"$scripts/wine-sim-run" "$sim" "$test" --gtest_filter='Installer.SdkExample*' || fail "SDK, upgrade or uninstall step failed"
stop_wine
rm -rf "$work"
