#!/bin/sh
# Builds the Debian package, checks its control data (computed Depends, the
# library's shlibs entry) and its file list, unpacks it into a scratch root
# and runs the programs from there: dncctl lists a directory of the
# unpacked ncsim.
set -eu
cpack=$1 config=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
"$cpack" -G DEB --config "$config" -B "$work/out" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
echo "built $(basename "$deb")"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dpkg-deb -c "$deb" | awk '{ print $6 }' > "$work/files"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# dpkg-shlibdeps names the packages of the libraries the programs link.
echo "$depends" | tr ',' '\n' | sed 's/^ *//' > "$work/depends"
for package in libc6 libstdc++6; do
    grep -q "^$package " "$work/depends" || fail "Depends lacks $package"
done
if grep -qx './usr/bin/dncpanel' "$work/files"; then
    for package in libqt6core6 libqt6gui6 libqt6widgets6; do
        grep -Eq "^$package \(>= [0-9]" "$work/depends" || fail "Depends lacks a versioned $package"
    done
fi
dpkg-deb -I "$deb" shlibs | grep -Eq '^libfilelink 1 ' || fail "no shlibs entry for libfilelink.so.1"
dpkg-deb -I "$deb" triggers | grep -qx 'activate-noawait ldconfig' || fail "no ldconfig trigger"

for file in ./usr/bin/dncctl ./usr/bin/ncsim ./usr/include/filelink/filelink.h \
            ./usr/lib/pkgconfig/filelink.pc ./usr/lib/cmake/filelink/filelink-config.cmake \
            ./usr/share/man/man1/dncctl.1.gz ./usr/share/man/man1/ncsim.1.gz; do
    grep -qxF "$file" "$work/files" || fail "the package lacks $file"
done
grep -qE '^\./usr/lib/(.*/)?libfilelink\.so\.1$' "$work/files" || fail "the package lacks libfilelink.so.1"

root=$work/root
dpkg-deb -x "$deb" "$root"
export LD_LIBRARY_PATH="$root/usr/lib"
"$root/usr/bin/dncctl" --help > "$work/dncctl.help" || fail "dncctl --help failed"
grep -q '^usage: dncctl' "$work/dncctl.help" || fail "dncctl --help printed no usage"
"$root/usr/bin/ncsim" --help > "$work/ncsim.help" || fail "ncsim --help failed"
grep -q '^usage: ncsim' "$work/ncsim.help" || fail "ncsim --help printed no usage"

# The unpacked programs talk to each other.
mkfifo "$work/sim.out"
"$root/usr/bin/ncsim" --udp 127.0.0.1:0 > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
exec 3< "$work/sim.out"
read -r address <&3 || { echo "FAIL: the unpacked ncsim did not start"; cat "$work/sim.err"; exit 1; }
"$root/usr/bin/dncctl" --udp "$address" ls > "$work/ls.txt" || fail "the unpacked dncctl could not list"
grep -Eqx 'dir +[0-9]+ PRG' "$work/ls.txt" || fail "the listing lacks PRG: $(cat "$work/ls.txt")"

[ "$failures" -eq 0 ] || exit 1
echo "package ok"
