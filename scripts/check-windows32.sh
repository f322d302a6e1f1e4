#!/usr/bin/env bash
# Builds the windows32 preset (kx305mon.exe and kx305.dll for 32-bit x86, and
# a C program that links the DLL by import) and checks the result without
# running anything:
#   - kx305.dll exports exactly the names of driver/kx305.def, undecorated;
#   - it imports system DLLs only, no runtime of the toolchain;
#   - the C program linked, and imports those same plain names from kx305.dll
#     (its calls refer to _KX305Open@8 and so on: the link proves that the
#     import library maps the decorated names to the exported ones);
#   - kx305mon.exe is a PE32 GUI program that imports system DLLs and
#     kx305.dll only, from kx305.dll the functions the 64-bit program takes
#     (the same check, the kx305mon_driver_imports target), and carries the
#     the resources (type, id, language) that monitor/resources/resource.h
#     and string_table.inc name, and the same set as the 64-bit kx305mon.exe
#     of build/windows (brought up to date) when that build is there.
# Exits non-zero with a message on the first failure.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build/windows32
objdump=i686-w64-mingw32-objdump
# Lower case; anything else imported by the DLL fails the check.
system_dlls=" kernel32.dll msvcrt.dll advapi32.dll user32.dll ntdll.dll "
# The program may also take the rest of Windows' user interface.
program_dlls="$system_dlls gdi32.dll comctl32.dll comdlg32.dll ole32.dll oleaut32.dll shell32.dll kx305.dll "
build64=build/windows
resources=monitor/resources

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

# --- kx305mon.exe
program=$build/driver/kx305mon.exe
[ -f "$program" ] || fail "$program was not built"
program_dump=$("$objdump" -p "$program") || fail "$objdump -p $program"
grep -q 'file format pei-i386' <<<"$program_dump" || fail "$program is not a 32-bit x86 image"
grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)$' <<<"$program_dump" || fail "$program is not PE32 (PE32+?)"
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)$' <<<"$program_dump" || fail "$program is not a GUI program"

program_imports=$(awk '/^\tDLL Name: / {print $3}' <<<"$program_dump")
grep -qix kx305.dll <<<"$program_imports" || fail "kx305mon.exe does not import kx305.dll (driver linked in?)"
for name in $program_imports; do
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
    [[ $program_dlls == *" $lower "* ]] || fail "kx305mon.exe imports $name, which is neither a system DLL nor kx305.dll"
done

if ! cmake --build "$build" --target kx305mon_driver_imports >build/imports-windows32.log 2>&1; then
    cat build/imports-windows32.log
    fail "kx305mon.exe does not take the expected functions from kx305.dll (log above)"
fi

# "type name language" of every resource, in decimal, sorted, from objdump's
# listing of the .rsrc directory: its entries are indented 3, 5 and 7 spaces
# past their offset for type, name and language.  Names that are strings
# stay as objdump prints them.
resource_list() {
    "$1" -p "$2" | awk '
        function hex(s,   i, n) {
            n = 0; s = tolower(s)
            for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return n
        }
        /^The \.rsrc Resource Directory section/ {on = 1; next}
        on && /^[0-9a-f]+ +Entry: / {
            line = $0; sub(/^[0-9a-f]+/, "", line)
            match(line, /^ +/); depth = RLENGTH
            sub(/^ +Entry: /, "", line); sub(/, Value: 0x[0-9a-f]+$/, "", line)
            if (line ~ /^ID: 0x[0-9a-f]+$/) line = hex(substr(line, 7))
            if (depth == 3) type = line; else if (depth == 5) name = line; else if (depth == 7) print type, name, line
        }' | sort -n -k1,1 -k2,2
}

# The resources resource.h and the string table name, all Polish (1045):
# dialogs (5), bitmaps (2), icon groups (14), the menu (4), the documents of
# the types it defines, the string blocks (6, sixteen strings each) and the
# version (16).  An icon's images (3) are numbered by windres, not here.
expected_resources() {
    {
        awk '$1 == "#define" && $2 ~ /^RT_/ {type[substr($2, 4)] = $3}
             $1 == "#define" && $2 ~ /^ID[DBIR]_/ {id[$2] = $3}
             END {
                 for (name in id) {
                     if (name ~ /^IDD_/) print 5, id[name]
                     else if (name ~ /^IDB_/) print 2, id[name]
                     else if (name ~ /^IDI_/) print 14, id[name]
                     else if (name ~ /^IDR_.*MENU$/) print 4, id[name]
                     else if (substr(name, 5) in type) print type[substr(name, 5)], id[name]
                 }
             }' "$resources/resource.h"
        sed -n 's/^KX305_STRING(\([0-9]*\),.*/\1/p' "$resources/string_table.inc" | awk '{print 6, int($1 / 16) + 1}'
        echo 16 1
    } | awk '{print $1, $2, 1045}' | sort -u | sort -n -k1,1 -k2,2
}

listed=$(resource_list "$objdump" "$program")
[ -n "$listed" ] || fail "no resources found in kx305mon.exe (objdump output not understood)"
named=$(expected_resources)
if [ "$(grep -v '^3 ' <<<"$listed")" != "$named" ]; then
    diff <(printf '%s\n' "$named") <(grep -v '^3 ' <<<"$listed") | sed 's/^/  /' >&2
    fail "the resources of kx305mon.exe (type id language, >) are not those resource.h and string_table.inc name (<)"
fi
grep -q '^3 ' <<<"$listed" || fail "kx305mon.exe has icon groups but no icon images"

# The 64-bit program brought up to date first, so that a stale one is not
# what the 32-bit one is held to (scripts/test.sh has just built it).
program64=$build64/driver/kx305mon.exe
compared="no 64-bit build to compare with"
if [ -f "$build64/build.ninja" ] && ! cmake --build "$build64" --target kx305mon >build/refresh-windows.log 2>&1; then
    compared="the 64-bit one did not build, see build/refresh-windows.log"
elif [ -f "$program64" ]; then
    reference=$(resource_list x86_64-w64-mingw32-objdump "$program64")
    if [ "$listed" != "$reference" ]; then
        diff <(printf '%s\n' "$reference") <(printf '%s\n' "$listed") | sed 's/^/  /' >&2
        fail "the resources of kx305mon.exe (type id language, >) differ from those of the 64-bit $program64 (<)"
    fi
    compared="the same $(grep -c . <<<"$reference") as the 64-bit $program64"
fi

echo "windows32: kx305mon.exe (PE32 i386, GUI) imports only $(echo $program_imports) and the program's functions from kx305.dll"
echo "windows32: kx305mon.exe has every resource resource.h and the string table name ($compared)"
