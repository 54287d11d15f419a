#!/bin/sh
# check_binaries.sh OBJDUMP VIEWER COMPANION SIMULATED_DLL
# The shipped Windows files as Windows will load them: 32-bit PE images, the viewer a GUI program
# and the companion a console one, importing only system DLLs (the C++, GCC and thread runtimes
# are linked in, FTD2XX.dll is loaded at run time), and the simulated FTD2XX.dll exporting the
# eight D2XX calls under the names FTDI's library uses.
set -u
objdump=$1 viewer=$2 companion=$3 dll=$4
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# image FILE SUBSYSTEM: PE32 for i386 with that subsystem and system imports only.
image() {
    headers=$("$objdump" -p "$1") || { fail "$1: not readable"; return; }
    echo "$headers" | grep -q '^Magic[[:space:]]*010b[[:space:]]*(PE32)$' || fail "$1: not PE32"
    "$objdump" -f "$1" | grep -q 'architecture: i386' || fail "$1: not for i386"
    subsystem=$(echo "$headers" | sed -n 's/^Subsystem[[:space:]].*(\(.*\))$/\1/p')
    [ "$subsystem" = "$2" ] || fail "$1: subsystem $subsystem, not $2"
    imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
    for name in $imports; do
        case $name in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | COMCTL32.DLL | MSVCRT.DLL) ;;
        *) fail "$1 imports $name" ;;
        esac
    done
    echo "$(basename "$1"): $subsystem, imports $(echo $imports)"
}

image "$viewer" "Windows GUI"
image "$companion" "Windows CUI"
image "$dll" "Windows CUI"
"$objdump" -p "$dll" | grep -q 'DLL' || fail "$dll: not a DLL"

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
want="FT_Close FT_Open FT_Read FT_SetBaudRate FT_SetDataCharacteristics FT_SetFlowControl FT_SetTimeouts FT_Write "
[ "$exports" = "$want" ] || fail "$dll exports: $exports"

[ $failures -eq 0 ] || exit 1
echo "all as Windows expects them"
