#!/bin/sh
# The Windows DLL exports the six plain names at ordinals 1 to 6. In the
# 32-bit one each is __stdcall: it removes its own arguments (ret 4 or
# ret 12); x64 has a single calling convention.
set -eu
objdump=$1
dll=$2
table=$("$objdump" -p "$dll")
base=$(echo "$table" | sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p')
# Lines "[   3] KORA_ModbusReadFileReq" of the ordinal/name table: index + base.
actual=$(echo "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\([A-Za-z_0-9@]*\).*/\1 \2/p' |
    while read -r index name; do echo "$((index + base)) $name"; done | sort -n | tr '\n' ',')
expected="1 SetUartReceiveFun,2 SetUartSendFrameFun,3 ModbusInit,4 KORA_ModbusReadFileReq,5 KORA_ModbusWriteFileReq,6 test,"
if [ "$actual" != "$expected" ]; then
    echo "exported: $actual"
    echo "expected: $expected"
    exit 1
fi
if ! "$objdump" -f "$dll" | grep -q 'file format pei-i386'; then
    echo "dll exports ok: $actual"
    exit 0
fi
code=$("$objdump" -d "$dll")
for fn in SetUartReceiveFun@4:0x4 SetUartSendFrameFun@4:0x4 ModbusInit@12:0xc \
          KORA_ModbusReadFileReq@12:0xc KORA_ModbusWriteFileReq@12:0xc test@4:0x4; do
    name=${fn%%:*}
    pops=${fn##*:}
    ret=$(echo "$code" | sed -n "/<_$name>:/,/^\$/p" | grep -m1 -E 'ret' || true)
    case "$ret" in
        *"ret"*"\$$pops"*) ;;
        *) echo "$name does not return with ret \$$pops: $ret"; exit 1 ;;
    esac
done
echo "dll exports ok: $actual"
