#!/bin/bash
# Builds the kx305 Debian package from this build tree and checks it as a
# user's machine would see it: its file list against expected-files.txt, its
# control data, lintian (no error), the unit with systemd-analyze, an install
# into a private dpkg root, two programs built against the installed library
# (through pkg-config and through find_package), and a clean removal.
#   package_test.sh BUILD_DIR LIBDIR CONFIG VERSION SOVERSION C_COMPILER
set -u -o pipefail

build=$1 libdir=$2 config=$3 version=$4 soversion=$5 cc=$6
here=$(cd "$(dirname "$0")" && pwd)
work=$build/packaging/tests/work
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
must() { "$@" || { echo "FAIL: $* (exit $?)" >&2; exit 1; }; }

rm -rf "$work" && mkdir -p "$work"
# Only what goes into the package, not every test of the tree.
must cmake --build "$build" --target kx305 kx305cli kx305sim kx305_man_pages kx305_package_docs
must cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log"
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { cat "$work/cpack.log"; fail "cpack made ${#debs[@]} packages"; exit 1; }
deb=${debs[0]}
echo "package: $deb"

# The file list, with modes and link targets, owned by root.
must dpkg-deb --fsys-tarfile "$deb" | tar -tv --numeric-owner >"$work/tar.txt"
awk '$2 != "0/0" { print "not owned by root: " $0 }' "$work/tar.txt" >"$work/owners.txt"
[ -s "$work/owners.txt" ] && fail "$(cat "$work/owners.txt")"
awk '{ path = $6; sub(/^\./, "", path); sub(/\/$/, "", path); if (path == "") next;
       line = $1 " " path; if ($7 == "->") line = line " -> " $8; print line }' "$work/tar.txt" | sort >"$work/files.txt"
grep -v '^#' "$here/expected-files.txt" |
    sed -e "s#@LIBDIR@#$libdir#g" -e "s#@CONFIG@#$config#g" -e "s#@VERSION@#$version#g" -e "s#@SOVERSION@#$soversion#g" |
    sort -u >"$work/expected.txt"
diff -u "$work/expected.txt" "$work/files.txt" || fail "the package's files differ from expected-files.txt (- expected, + built)"

# Control data: the dependencies found from the binaries, the configuration
# kept as a conffile, the library announced through shlibs.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kx305 ] || fail "Package: $(field Package)"
changelog_version=$(sed -n '1s/^kx305 (\([^)]*\)).*/\1/p' "$here/../debian/changelog")
[ "$(field Version)" = "$changelog_version" ] || fail "Version $(field Version), the changelog's top entry $changelog_version"
[[ "$(field Version)" == "$version-"* ]] || fail "Version $(field Version) is not of the project's version $version"
[[ "$(field Depends)" == *libc6* && "$(field Depends)" == *libstdc++6* ]] || fail "Depends lacks the C and C++ runtimes: $(field Depends)"
must dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/kx305/serve.ini ] || fail "conffiles: $(cat "$work/control/conffiles")"
grep -qx "libkx305 $soversion kx305 (>= $changelog_version)" "$work/control/shlibs" || fail "shlibs: $(cat "$work/control/shlibs")"

# The binaries as shipped: stripped, the library under its soname.
must dpkg-deb -x "$deb" "$work/tree"
for f in usr/bin/kx305cli usr/bin/kx305sim "usr/$libdir/libkx305.so.$version"; do
    readelf -S "$work/tree/$f" | grep -q '\.symtab' && fail "$f is not stripped"
done
readelf -d "$work/tree/usr/$libdir/libkx305.so.$version" | grep -q "(SONAME).*\[libkx305.so.$soversion\]" ||
    fail "libkx305.so.$version has no soname libkx305.so.$soversion"
# The programs name the release they belong to.
for program in kx305cli kx305sim; do
    said=$(LD_LIBRARY_PATH="$work/tree/usr/$libdir" "$work/tree/usr/bin/$program" --version) || fail "$program --version failed"
    [ "$said" = "$program $version" ] || fail "$program --version says \"$said\", not \"$program $version\""
done

# lintian: warnings are shown, an error fails.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
grep -q '^E: ' "$work/lintian.txt" && fail "lintian reports errors"

# The unit as systemd reads it.  Its program is the package's kx305cli,
# which is not in /usr/bin on this machine: a copy of the unit names the
# unpacked one instead, all else as shipped.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/unit"
    sed "s#^ExecStart=/usr/bin/kx305cli #ExecStart=$work/tree/usr/bin/kx305cli #" \
        "$work/tree/lib/systemd/system/kx305-serve.service" >"$work/unit/kx305-serve.service"
    grep -q "^ExecStart=$work/tree/usr/bin/kx305cli serve --config /etc/kx305/serve.ini$" "$work/unit/kx305-serve.service" ||
        fail "the unit does not run /usr/bin/kx305cli serve --config /etc/kx305/serve.ini"
    systemd-analyze verify --man=no "$work/unit/kx305-serve.service" >"$work/verify.txt" 2>&1 &&
        ! grep -q . "$work/verify.txt" || { cat "$work/verify.txt"; fail "systemd-analyze verify"; }
else
    echo "systemd-analyze missing: the unit is not verified"
fi

# Install into a private dpkg root.  Its database knows only the packages
# the dependencies name, taken from this machine's, so dpkg checks them; the
# maintainer scripts run outside a chroot with DPKG_ROOT set.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/available"
for dep in $(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/ //g' | sort -u); do
    dpkg-query -s "$dep" >>"$root/var/lib/dpkg/status" && echo >>"$root/var/lib/dpkg/status"
    for arch_name in $(dpkg-query -W -f='${binary:Package}\n' "$dep"); do
        : >"$root/var/lib/dpkg/info/$arch_name.list"
    done
done
dpkg_root() { dpkg --root="$root" --force-not-root --force-script-chrootless --log=/dev/null "$@"; }
status_of() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${db:Status-Abbrev}' kx305 2>/dev/null | tr -d ' '; }
dpkg_root -i "$deb" || fail "dpkg -i into $root"
[ "$(status_of)" = ii ] || fail "after install the status is '$(status_of)', not ii"
dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' kx305 | grep -q '^ /etc/kx305/serve.ini [0-9a-f]\{32\}$' ||
    fail "/etc/kx305/serve.ini is not registered as a conffile"
while read -r mode path rest; do
    [ -e "$root$path" ] || [ -L "$root$path" ] || fail "installed package lacks $path"
done <"$work/files.txt"

# Programs of a user of the package, built against the installed files only.
export LD_LIBRARY_PATH="$root/usr/$libdir"
missing_port=$work/no-such-port
flags=$(PKG_CONFIG_LIBDIR="$root/usr/$libdir/pkgconfig" PKG_CONFIG_PATH= pkg-config --cflags --libs kx305) ||
    fail "pkg-config does not find kx305"
if "$cc" -std=c99 -Wall -Werror "$here/consumer/consumer.c" $flags -o "$work/consumer-pkgconfig" 2>"$work/cc.txt"; then
    "$work/consumer-pkgconfig" "$missing_port" || fail "the program built through pkg-config"
else
    cat "$work/cc.txt"; fail "building through pkg-config ($flags)"
fi
if cmake -S "$here/consumer" -B "$work/consumer-cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" \
        -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/consumer-cmake.txt" 2>&1 &&
    cmake --build "$work/consumer-cmake" >>"$work/consumer-cmake.txt" 2>&1; then
    "$work/consumer-cmake/consumer" "$missing_port" || fail "the program built through find_package"
    grep -q "$root/usr/$libdir/cmake/kx305" "$work/consumer-cmake/CMakeCache.txt" ||
        fail "find_package(kx305) found a kx305 other than the installed one"
else
    cat "$work/consumer-cmake.txt"; fail "building through find_package(kx305)"
fi
unset LD_LIBRARY_PATH

# Removal keeps the changed configuration, the purge takes it and leaves
# nothing of the package behind.
echo "port = /dev/ttyUSB1" >>"$root/etc/kx305/serve.ini"
dpkg_root -r kx305 || fail "dpkg -r"
[ "$(status_of)" = rc ] || fail "after removal the status is '$(status_of)', not rc"
[ -f "$root/etc/kx305/serve.ini" ] || fail "removal took the changed configuration"
dpkg_root -P kx305 || fail "dpkg -P"
[ -z "$(status_of)" ] || [ "$(status_of)" = pn ] || fail "after purge the status is '$(status_of)'"
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o ! -type d -print)
[ -z "$left" ] || fail "left behind after the purge: $left"

if [ "$failures" -eq 0 ]; then
    echo "package test: 1 passed, 0 failed"
else
    echo "package test: $failures failed checks"
    exit 1
fi
