#!/bin/sh
# The shared library exports exactly its six entry points.
set -eu
lib=$1
expected="KORA_ModbusReadFileReq KORA_ModbusWriteFileReq ModbusInit SetUartReceiveFun SetUartSendFrameFun test"
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
    echo "exported: $actual"
    echo "expected: $expected"
    exit 1
fi
echo "exports ok: $actual"
