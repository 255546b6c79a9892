#!/bin/sh
# The Windows zip: the two programs (stripped), both filelink.dll with the
# 32-bit import library, the C header and the README for Windows users.
# usage: make_zip.sh SOURCE_DIR NATIVE_BUILD WINDOWS_BUILD VERSION
set -eu
src=$1 native=$2 windows=$3 version=$4
name=dncpanel-$version-windows
stage=$native/$name
rm -rf "$stage" "$native/$name.zip"
mkdir -p "$stage/x64" "$stage/x86" "$stage/include"
for program in cli/dncctl ncsim/ncsim; do
    x86_64-w64-mingw32-strip -o "$stage/$(basename $program).exe" "$windows/$program.exe"
done
cp "$windows/filelink/filelink.dll" "$windows/filelink/libfilelink.dll.a" "$stage/x64/"
cp "$native/filelink/filelink.dll" "$native/filelink/libfilelink.dll.a" "$stage/x86/"
cp "$src/filelink/filelink.h" "$src/core/uart_callbacks.h" "$stage/include/"
# Windows users open it with Notepad: CR LF line ends.
sed 's/$/\r/' "$src/packaging/windows/README.txt" >"$stage/README.txt"
(cd "$native" && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"
echo "$native/$name.zip:"
unzip -l "$native/$name.zip" 2>/dev/null || cmake -E tar tf "$native/$name.zip"
