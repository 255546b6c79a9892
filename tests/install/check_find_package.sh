#!/bin/sh
# A tiny CMake project finds filelink::filelink in the scratch prefix with
# find_package, builds, links and runs.
set -eu
cmake=$1 cc=$2 source=$3 build=$4 prefix=$5 flags=${6:-}
rm -rf "$build"
"$cmake" -S "$source" -B "$build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
         -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
         -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
"$cmake" --build "$build"
# The library it linked must be the one in the prefix.
grep -q "filelink_DIR:PATH=$prefix/" "$build/CMakeCache.txt" || { echo "FAIL: filelink found outside $prefix"; exit 1; }
"$build/consumer"
