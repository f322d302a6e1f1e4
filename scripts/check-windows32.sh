#!/usr/bin/env bash
# Builds the windows32 preset (kx305.dll for 32-bit x86 and a C program that
# links it by import) and checks the result without running anything:
#   - kx305.dll exports exactly the names of driver/kx305.def, undecorated;
#   - it imports system DLLs only, no runtime of the toolchain;
#   - the program linked, and imports those same plain names from kx305.dll
#     (its calls refer to _KX305Open@8 and so on: the link proves that the
#     import library maps the decorated names to the exported ones).
# Exits non-zero with a message on the first failure.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build/windows32
objdump=i686-w64-mingw32-objdump
# Lower case; anything else imported by the DLL fails the check.
system_dlls=" kernel32.dll msvcrt.dll advapi32.dll user32.dll ntdll.dll "

fail() {
    echo "windows32: FAILED: $*" >&2
    exit 1
}

command -v "$objdump" >/dev/null || fail "$objdump not found (scripts/setup.sh installs it)"

mkdir -p build
if ! cmake --preset windows32 -DKX305_WERROR=ON >build/configure-windows32.log 2>&1; then
    cat build/configure-windows32.log
    fail "configure (log above)"
fi
if ! cmake --build --preset windows32 >build/build-windows32.log 2>&1; then
    cat build/build-windows32.log
    fail "build (log above)"
fi

dll=$build/driver/kx305.dll
exe=$build/driver/kx305_import_link_check.exe
[ -f "$dll" ] || fail "$dll was not built"
[ -f "$exe" ] || fail "$exe was not built"

# The names kx305.def exports, sorted.
expected=$(sed -e 's/;.*//' driver/kx305.def | awk '/^[ \t]*EXPORTS[ \t]*$/ {on = 1; next} on && NF {print $1}' | sort)
count=$(printf '%s\n' "$expected" | grep -c .)
[ "$count" -eq 16 ] || fail "driver/kx305.def lists $count exports, not 16"

dll_dump=$("$objdump" -p "$dll") || fail "$objdump -p $dll"
exe_dump=$("$objdump" -p "$exe") || fail "$objdump -p $exe"
grep -q 'file format pei-i386' <<<"$dll_dump" || fail "$dll is not a 32-bit x86 image"
grep -q 'file format pei-i386' <<<"$exe_dump" || fail "$exe is not a 32-bit x86 image"

# Export names: the entries of the "[Ordinal/Name Pointer] Table".
exported=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                on && /^\t\[ *[0-9]+\] / {print $NF; next}
                on {exit}' <<<"$dll_dump" | sort)
if [ "$exported" != "$expected" ]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exported") | sed 's/^/  /' >&2
    fail "kx305.dll does not export exactly the 16 plain names (< kx305.def, > kx305.dll)"
fi

imported_dlls=$(awk '/^\tDLL Name: / {print $3}' <<<"$dll_dump")
[ -n "$imported_dlls" ] || fail "no imports found in $dll (objdump output not understood)"
for name in $imported_dlls; do
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
    [[ $system_dlls == *" $lower "* ]] || fail "kx305.dll imports $name, which is not a system DLL (runtime not linked in?)"
done

# What the program takes from kx305.dll: the member names listed under it.
from_dll=$(awk '/^\tDLL Name: / {on = (tolower($3) == "kx305.dll"); next}
                on && /^\t[0-9a-f]+\t/ {print $NF}' <<<"$exe_dump" | sort)
if [ "$from_dll" != "$expected" ]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$from_dll") | sed 's/^/  /' >&2
    fail "the program linked by import does not take the 16 plain names from kx305.dll (< kx305.def, > program)"
fi

echo "windows32: kx305.dll (pei-i386) exports the 16 plain names and imports only $(echo $imported_dlls)"
echo "windows32: kx305_import_link_check.exe linked by import (decorated calls) and imports the 16 plain names from kx305.dll"
