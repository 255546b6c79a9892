#!/bin/sh
# The Windows ncsim.exe, run by wine, serves this system's dncctl over UDP on
# loopback: a listing, a read, a write read back, folders made and removed, a
# DNC run whose bytes the controller captured; then Ctrl-C (SIGINT) ends it
# with status 0. Prints one line per step; exits 1 if any failed.
#   ncsim_exe_serves_dncctl.sh NCSIM_EXE DNCCTL
set -u
ncsim_exe=$1
dncctl=$2
work=$(mktemp -d)
sim=
cleanup() {
    [ -n "$sim" ] && kill -INT "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/PRG"
printf '%%\r\nO0001\r\nG00 X0 Y0\r\nM30\r\n%%\r\n' > "$work/root/PRG/O0001.CNC"
root=$(winepath -w "$work/root")
capture=$(winepath -w "$work/capture.bin")
wine "$ncsim_exe" --udp 127.0.0.1:0 --root "$root" --capture "$capture" > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
# Wine takes a few seconds to start a program; the first line is HOST:PORT.
for _ in $(seq 1 60); do
    [ -s "$work/sim.out" ] && break
    sleep 1
done
address=$(head -n 1 "$work/sim.out" | tr -d '\r')
if [ -z "$address" ]; then
    echo "FAIL ncsim.exe did not start:"
    cat "$work/sim.err"
    exit 1
fi

export DNCPANEL_JOURNAL="$work/journal.tsv"
failures=0
step() {
    name=$1
    shift
    if "$@" > "$work/step.log" 2>&1; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        sed 's/^/     /' "$work/step.log"
        failures=$((failures + 1))
    fi
}

# 3000 bytes: six blocks, the last one short.
head -c 2250 /dev/urandom | base64 > "$work/up.nc"
for i in $(seq 1 400); do echo "N$i G01 X$i Y$i F100"; done > "$work/part.nc"

step "ls lists the folder" sh -c "\"$dncctl\" --udp $address ls '\\PRG' | grep -q O0001.CNC"
step "get reads the file byte for byte" sh -c "\"$dncctl\" --udp $address get '\\PRG\\O0001.CNC' '$work/got.cnc' &&
    cmp '$work/got.cnc' '$work/root/PRG/O0001.CNC'"
step "put --verify stores the file byte for byte" sh -c "\"$dncctl\" --udp $address put --verify '$work/up.nc' '\\PRG\\O0009.CNC' &&
    cmp '$work/up.nc' '$work/root/PRG/O0009.CNC'"
step "mkdir makes a folder" sh -c "\"$dncctl\" --udp $address mkdir '\\NEW' && test -d '$work/root/NEW'"
step "rmdir removes it" sh -c "\"$dncctl\" --udp $address rmdir '\\NEW' && test ! -e '$work/root/NEW'"
step "a missing file is an error" sh -c "! \"$dncctl\" --udp $address get '\\PRG\\NONE.CNC' '$work/none.cnc'"
step "dnc streams the program once" sh -c "\"$dncctl\" --udp $address dnc '$work/part.nc' && cmp '$work/part.nc' '$work/capture.bin'"

kill -INT "$sim"
wait "$sim"
status=$?
sim=
if [ "$status" -eq 0 ]; then echo "ok   Ctrl-C ends ncsim.exe with status 0"; else
    echo "FAIL Ctrl-C: ncsim.exe ended with status $status"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
