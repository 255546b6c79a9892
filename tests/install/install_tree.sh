#!/bin/sh
# Installs the build tree into a fresh scratch prefix.
set -eu
cmake=$1 build=$2 prefix=$3
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix"
