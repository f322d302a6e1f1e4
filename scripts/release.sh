#!/usr/bin/env bash
# Builds the release from a clean tree into build/release/, every name with
# the project's version (CMakeLists.txt, project(... VERSION ...)):
#
#   kx305-<version>-setup.exe      Windows installer (x86, runs on 32- and
#                                  64-bit Windows; kx305mon.exe and kx305.dll
#                                  of the system's width, the optional SDK
#                                  with both DLLs and their import libraries)
#   kx305_<version>-<rev>_<arch>.deb  the Debian package (native build)
#   kx305-<version>-podrecznik.html   the user guide, when docs/podrecznik.md exists
#
#   scripts/release.sh [--allow-dirty]
#
# The builds (windows, windows32, native; release settings, warnings as
# errors, no tests) go to build/release/work/, apart from the development
# trees.  It stops at the first failure, saying which step failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
allow_dirty=0
case ${1:-} in
    --allow-dirty) allow_dirty=1 ;;
    "") ;;
    *) echo "usage: scripts/release.sh [--allow-dirty]" >&2; exit 2 ;;
esac
fail() { echo "release: $*" >&2; exit 1; }

if [ "$allow_dirty" = 0 ] && [ -n "$(git status --porcelain 2>/dev/null)" ]; then
    fail "the work tree has changes that are not committed (--allow-dirty builds it anyway)"
fi
for tool in cmake ninja makensis cpack x86_64-w64-mingw32-gcc-posix i686-w64-mingw32-gcc-posix; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs what the builds need)"
done
version=$(sed -n 's/^project(kx305 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

out=$root/build/release
work=$out/work
rm -rf "$out"
mkdir -p "$work"

build() {  # preset, then extra cache settings
    local preset=$1
    shift
    echo "=== $preset"
    # -O2 as the tested builds (gcc 12's -O3 warns falsely in std::string),
    # without their debug information.
    cmake --preset "$preset" -B "$work/$preset" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
          -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
          -DKX305_BENCH=OFF -DKX305_WERROR=ON "$@" >"$work/$preset.configure.log" 2>&1 ||
        { tail -20 "$work/$preset.configure.log"; fail "$preset: configure failed ($work/$preset.configure.log)"; }
    cmake --build "$work/$preset" >"$work/$preset.build.log" 2>&1 ||
        { tail -20 "$work/$preset.build.log"; fail "$preset: build failed ($work/$preset.build.log)"; }
}

build native
build windows
cmake --build "$work/windows" --target kx305_msvc_import_library >/dev/null
build windows32
for f in kx305mon.exe kx305.dll libkx305.dll.a kx305.lib; do
    [ -f "$work/windows/driver/$f" ] || fail "the 64-bit build made no $f"
    [ -f "$work/windows32/driver/$f" ] ||
        fail "the 32-bit build made no $f: the installer needs the whole 32-bit program (windows32 preset)"
done

echo "=== Debian package"
cpack -G DEB --config "$work/native/CPackConfig.cmake" -B "$work/package" >"$work/package.log" 2>&1 ||
    { tail -20 "$work/package.log"; fail "cpack failed ($work/package.log)"; }
cp "$work"/package/kx305_"$version"-*.deb "$out/" || fail "cpack made no kx305_$version-*.deb"

echo "=== Windows installer"
makensis -V2 -DVERSION="$version" -DSOURCE="$root" -DBUILD64="$work/windows" -DBUILD32="$work/windows32" \
         -DOUTFILE="$out/kx305-$version-setup.exe" -DTARGET=x86-unicode packaging/windows/kx305.nsi \
         >"$work/installer.log" 2>&1 || { tail -20 "$work/installer.log"; fail "makensis failed ($work/installer.log)"; }

echo "=== user guide"
if [ -f docs/podrecznik.md ]; then
    command -v pandoc >/dev/null || fail "pandoc is missing (Debian package pandoc)"
    # The pictures go inside the page, so that it is one file.
    (cd docs && pandoc --standalone --self-contained --metadata lang=pl \
        --metadata title="Konwerter KX-305 $version: podręcznik" podrecznik.md \
        -o "$out/kx305-$version-podrecznik.html") || fail "pandoc failed on docs/podrecznik.md"
else
    echo "(docs/podrecznik.md does not exist: no guide in this release)"
fi

echo "=== build/release (version $version)"
find "$out" -maxdepth 1 -type f -printf '%f\t%s bytes\n' | sort
