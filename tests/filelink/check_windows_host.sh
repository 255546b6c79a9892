#!/bin/sh
# A C host built with the header against the DLL's import library imports the
# six plain names from filelink.dll.
set -eu
gcc=$1
objdump=$2
include_dirs=$3
import_lib=$4
source=$5
out=${TMPDIR:-/tmp}/filelink-host-$$.exe
trap 'rm -f "$out"' EXIT
flags=""
for dir in $(echo "$include_dirs" | tr ':' ' '); do flags="$flags -I$dir"; done
# shellcheck disable=SC2086
"$gcc" -std=c11 -Wall -Wextra -Werror $flags -o "$out" "$source" "$import_lib"
imports=$("$objdump" -p "$out" | sed -n '/DLL Name: filelink.dll/,/^$/p')
for name in SetUartReceiveFun SetUartSendFrameFun ModbusInit KORA_ModbusReadFileReq KORA_ModbusWriteFileReq test; do
    if ! echo "$imports" | grep -Eq "[[:space:]]$name\$"; then
        echo "the host does not import $name from filelink.dll:"
        echo "$imports"
        exit 1
    fi
done
echo "windows host imports ok"
