#!/bin/sh
# Runs the Windows dncctl.exe under wine in place of the Linux dncctl, so
# the command-line tests drive the Windows build. A pseudo-terminal given as
# `--serial /dev/pts/N` becomes COM7: the prefix's registry maps COM7 to the
# link $WINEPREFIX/com7, which is pointed at the terminal here.
# Needs DNCCTL_EXE and WINEPREFIX (see `make test-windows`).
: "${DNCCTL_EXE:?}" "${WINEPREFIX:?}"
export WINEDEBUG=-all
n=$#
serial_next=0
while [ "$n" -gt 0 ]; do
    arg=$1
    shift
    n=$((n - 1))
    if [ "$serial_next" = 1 ] && [ "${arg#/dev/}" != "$arg" ]; then
        ln -sfn "$arg" "$WINEPREFIX/com7"
        arg=COM7
    fi
    serial_next=0
    [ "$arg" = --serial ] && serial_next=1
    set -- "$@" "$arg"
done
exec wine "$DNCCTL_EXE" "$@"
