#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Runs apt-get as root, or through sudo.
#
#   scripts/setup.sh                everything scripts/test.sh builds and runs
#   scripts/setup.sh --native-only  the native build and its tests
#
# What each package is for:
#   cmake ninja-build g++           every build (presets use Ninja)
#   googletest libgtest-dev         the tests: the native build links the
#                                   packaged library, the Windows build
#                                   compiles /usr/src/googletest
#   libcli11-dev                    kx305sim and kx305cli
#   libmosquitto-dev pkgconf        kx305cli serve (MQTT)
#   mosquitto openssl               the serve tests' broker and its TLS keys
#   help2man                        the manual pages (native configure)
#   dpkg-dev lintian binutils       the Debian package and its check
#   clang-format                    the fuzz stage checks the tree's format
#   clang + its compiler-rt         the fuzz preset (libFuzzer, ASan, UBSan);
#                                   the runtime package is the one of the
#                                   installed clang's major version
#   mingw-w64 (x86-64, i686)        the windows and windows32 presets
#   wine64                          the Windows tests (scripts/wine-run)
#   xvfb                            a display for Windows tests that show windows
#   locales                         localedef, when the system lacks pl_PL.UTF-8
#   time                            /usr/bin/time: peak memory in the kx305cli tests
#   socat                           Windows tests reach the simulators' control
#                                   sockets through a loopback TCP bridge
#   imagemagick                     checks the end-to-end tests' screenshots
#   nsis                            the Windows installer (makensis)
#   pandoc                          the user guide's HTML copy
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libcli11-dev time
          libmosquitto-dev pkgconf mosquitto openssl help2man dpkg-dev lintian binutils)
with_clang=0
if [ "${1:-}" != "--native-only" ]; then
    packages+=(
        clang clang-format
        g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
        g++-mingw-w64-i686-posix binutils-mingw-w64-i686
        wine64 xvfb locales socat imagemagick nsis pandoc
    )
    with_clang=1
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
updated=0

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs those of the given packages that are missing.  The package lists
# are refreshed first, once per run: a fresh machine (or container) may have
# none at all.
install_missing() {
    local p missing=()
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ $updated -eq 0 ]; then
        "${sudo_cmd[@]}" apt-get update -qq
        updated=1
    fi
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

if [ $with_clang -eq 1 ]; then
    # The sanitizer and libFuzzer runtimes come in a package per clang major
    # version (libclang-rt-14-dev on Debian 12); take the one of the clang
    # that "clang" runs, which the step above made sure exists.
    major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
    if [ -z "$major" ]; then
        echo "setup.sh: cannot tell the version of clang ($(command -v clang || echo 'not found'))" >&2
        exit 1
    fi
    install_missing "libclang-rt-$major-dev"
fi
