#!/bin/sh
# The example host program, built through pkg-config against the installed
# library, lists the directories of an installed ncsim the same way dncctl
# does, and reports a missing directory by its result code.
set -eu
cc=$1 source=$2 work=$3 prefix=$4 libdir=$5 flags=${6:-}
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Only the scratch prefix's pkg-config files, never the system's.
PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig PKG_CONFIG_PATH= \
    make -s -f "$source/Makefile" VPATH="$source" CC="$cc" CFLAGS="-O2 -Wall -Wextra -Werror $flags" LDFLAGS="$flags"
export LD_LIBRARY_PATH="$prefix/$libdir"
ldd ./filelink_ls | grep -q "$prefix/$libdir/libfilelink.so.1" || { echo "FAIL: not linked to the installed library"; ldd ./filelink_ls; exit 1; }

# The simulator's first line is HOST:PORT; a fifo lets us wait for it.
mkfifo sim.out
"$prefix/bin/ncsim" --udp 127.0.0.1:0 > sim.out 2> sim.err &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
exec 3< sim.out
read -r address <&3 || { echo "FAIL: ncsim did not start"; cat sim.err; exit 1; }
host=${address%:*} port=${address#*:}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

./filelink_ls "$host" "$port" > root.txt || fail "listing the root failed"
cat root.txt
for entry in 'dir +[0-9]+ DATA' 'dir +[0-9]+ PRG' 'dir +[0-9]+ QVT' 'file +[0-9]+ O1234\.NC'; do
    grep -Eqx "$entry" root.txt || fail "the root listing lacks /$entry/"
done
"$prefix/bin/dncctl" --udp "$address" ls > root.dncctl
cmp -s root.txt root.dncctl || { fail "the root listing differs from dncctl ls"; diff root.dncctl root.txt || true; }

./filelink_ls "$host" "$port" '\PRG\' > prg.txt || fail "listing \\PRG\\ failed"
"$prefix/bin/dncctl" --udp "$address" ls '\PRG' > prg.dncctl
grep -Eqx 'file +[0-9]+ O0002\.CNC' prg.txt || fail "the \\PRG\\ listing lacks O0002.CNC"
cmp -s prg.txt prg.dncctl || { fail "the \\PRG\\ listing differs from dncctl ls"; diff prg.dncctl prg.txt || true; }

status=0
./filelink_ls "$host" "$port" '\NOSUCH\' > missing.txt 2> missing.err || status=$?
[ "$status" -eq 1 ] || fail "a missing directory exits $status, not 1"
grep -q '0xE2' missing.err || fail "a missing directory does not report the controller's code 0xE2: $(cat missing.err)"

[ "$failures" -eq 0 ] || exit 1
echo "example ok against $address"
