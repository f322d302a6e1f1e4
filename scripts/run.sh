#!/usr/bin/env bash
# The main job: installs what is missing, builds the native tools and shows
# live readings of a converter.  Without arguments it reads the built-in
# simulator (a KX-124, a KX-125 and a KX-129 on inputs 1 to 3, the rain gauge
# on input 0) for 10 polling cycles; any arguments go to kx305cli instead,
# for example:  scripts/run.sh read --port /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh --native-only
cmake --preset native >/dev/null
cmake --build --preset native --target kx305cli kx305sim
if [ $# -eq 0 ]; then
    set -- read --count 10
fi
exec build/native/cli/kx305cli "$@"
