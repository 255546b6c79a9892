#!/bin/bash
# End to end across the two systems: the Windows dncctl.exe against the Linux
# ncsim over UDP and on a COM port that wine maps to the simulator's
# pseudo-terminal, and the Windows ncsim.exe serving the Linux dncctl. Each
# row moves real bytes and compares them with what arrived; prints one table
# (operation, link, outcome) and exits non-zero when a row failed.
#
# usage: e2e_table.sh NCSIM DNCCTL NCSIM_EXE DNCCTL_EXE
# with WINEPREFIX set to a prepared prefix. WINE (default: wine) runs the
# .exe files; WINE= runs them directly (to check the script on Linux alone).
set -u
ncsim=$(realpath "$1") dncctl=$(realpath "$2") ncsim_exe=$(realpath "$3") dncctl_exe=$(realpath "$4")
wine_cmd=${WINE-wine}
work=$(mktemp -d "${TMPDIR:-/tmp}/dnc-e2e-XXXXXX")
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
row() {  # row OPERATION LINK OUTCOME(exact|FAILED...)
    printf '| %s | %s | %s |\n' "$1" "$2" "$(printf '%s' "$3" | tr '\n' ' ')" >>"$work/table"
    [ "$3" = exact ] || failures=$((failures + 1))
}
exe() { $wine_cmd "$@"; }

# A simulator in the background; its first line on stdout is its address
# (UDP) or its pseudo-terminal's path.
start_sim() {  # start_sim OUTVAR COMMAND...
    local out=$work/sim.$RANDOM
    "${@:2}" >"$out" 2>"$out.err" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
    printf -v "$1" '%s' "$(head -n 1 "$out" | tr -d '\r')"
}

# Sample data: one binary file across several blocks, one NC program.
head -c 3000 /dev/urandom >"$work/data.bin"
printf '%%\r\nO0001\r\nG0 X0 Y0\r\n' >"$work/prog.nc"
for i in $(seq 1 200); do printf 'G1 X%d Y%d F100\r\n' "$i" "$i"; done >>"$work/prog.nc"
printf 'M30\r\n%%\r\n' >>"$work/prog.nc"

same() { cmp -s "$1" "$2" && echo exact || echo "FAILED: $1 and $2 differ"; }

cd "$work" || exit 1
export DNCPANEL_JOURNAL=$work/journal.tsv

# --- dncctl.exe against the Linux ncsim over UDP
mkdir -p root-udp back
cp data.bin root-udp/DATA.BIN
start_sim addr "$ncsim" --udp 127.0.0.1:0 --root root-udp --capture capture-udp.bin
link=(--udp "$addr")
exe "$dncctl_exe" "${link[@]}" ls / >ls.txt 2>err.txt && grep -q DATA.BIN ls.txt && row ls "UDP, dncctl.exe" exact || row ls "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"
if exe "$dncctl_exe" "${link[@]}" get /DATA.BIN got-udp.bin 2>err.txt; then row get "UDP, dncctl.exe" "$(same data.bin got-udp.bin)"; else row get "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" put prog.nc /PROG.NC --verify 2>err.txt; then row "put --verify" "UDP, dncctl.exe" "$(same prog.nc root-udp/PROG.NC)"; else row "put --verify" "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" get /DATA.BIN - >stdout-udp.bin 2>err.txt; then row "get - (standard output)" "UDP, dncctl.exe" "$(same data.bin stdout-udp.bin)"; else row "get -" "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" dnc prog.nc 2>err.txt; then
    # Block 1's leading '%' goes out as a CR.
    printf '\r' >expect-dnc.nc; tail -c +2 prog.nc >>expect-dnc.nc
    row dnc "UDP, dncctl.exe" "$(same expect-dnc.nc capture-udp.bin)"
else row dnc "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" backup back 2>err.txt && (cd back && sha256sum -c --quiet MANIFEST.sha256 >/dev/null 2>&1); then
    row backup "UDP, dncctl.exe" exact
else row backup "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
rm -f root-udp/DATA.BIN root-udp/PROG.NC
if exe "$dncctl_exe" "${link[@]}" restore back 2>err.txt; then row restore "UDP, dncctl.exe" "$(same data.bin root-udp/DATA.BIN)"; else row restore "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" diff back >diff.txt 2>err.txt; then row diff "UDP, dncctl.exe" exact; else row diff "UDP, dncctl.exe" "FAILED: $(head -c 200 err.txt diff.txt)"; fi

# --- dncctl.exe on a COM port mapped to the Linux ncsim's pseudo-terminal
mkdir -p root-pty
cp data.bin root-pty/DATA.BIN
start_sim pty "$ncsim" --pty --root root-pty --capture capture-pty.bin
if [ -n "$wine_cmd" ]; then
    # The prefix's registry maps COM7 to a link that points at the
    # pseudo-terminal (as dncctl-wine.sh does). wine reads the mapping when
    # its server starts: a server that runs without it is restarted.
    ln -sfn "$pty" "$WINEPREFIX/com7"
    if [ "$(readlink "$WINEPREFIX/dosdevices/com7")" != "$WINEPREFIX/com7" ]; then
        $wine_cmd reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$WINEPREFIX/com7" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    fi
    port=COM7
else
    port=$pty
fi
link=(--serial "$port")
if exe "$dncctl_exe" "${link[@]}" get /DATA.BIN got-pty.bin 2>err.txt; then row get "COM port, dncctl.exe" "$(same data.bin got-pty.bin)"; else row get "COM port, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" put prog.nc /PROG.NC 2>err.txt; then row "put (verified)" "COM port, dncctl.exe" "$(same prog.nc root-pty/PROG.NC)"; else row put "COM port, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi
if exe "$dncctl_exe" "${link[@]}" dnc prog.nc 2>err.txt; then
    printf '\r' >expect-dnc.nc; tail -c +2 prog.nc >>expect-dnc.nc
    row dnc "COM port, dncctl.exe" "$(same expect-dnc.nc capture-pty.bin)"
else row dnc "COM port, dncctl.exe" "FAILED: $(head -c 200 err.txt)"; fi

# --- the Linux dncctl against ncsim.exe over UDP
mkdir -p root-win
cp data.bin root-win/DATA.BIN
start_sim addr $wine_cmd "$ncsim_exe" --udp 127.0.0.1:0 --root root-win --capture capture-win.bin
link=(--udp "$addr")
"$dncctl" "${link[@]}" ls / >ls.txt 2>err.txt && grep -q DATA.BIN ls.txt && row ls "UDP, ncsim.exe" exact || row ls "UDP, ncsim.exe" "FAILED: $(head -c 200 err.txt)"
if "$dncctl" "${link[@]}" get /DATA.BIN got-win.bin 2>err.txt; then row get "UDP, ncsim.exe" "$(same data.bin got-win.bin)"; else row get "UDP, ncsim.exe" "FAILED: $(head -c 200 err.txt)"; fi
if "$dncctl" "${link[@]}" put prog.nc /PROG.NC --verify 2>err.txt; then row "put --verify" "UDP, ncsim.exe" "$(same prog.nc root-win/PROG.NC)"; else row "put --verify" "UDP, ncsim.exe" "FAILED: $(head -c 200 err.txt)"; fi
if "$dncctl" "${link[@]}" dnc prog.nc 2>err.txt; then
    printf '\r' >expect-dnc.nc; tail -c +2 prog.nc >>expect-dnc.nc
    row dnc "UDP, ncsim.exe" "$(same expect-dnc.nc capture-win.bin)"
else row dnc "UDP, ncsim.exe" "FAILED: $(head -c 200 err.txt)"; fi

echo '| operation | link | outcome |'
echo '|---|---|---|'
cat "$work/table"
echo "$failures row(s) failed"
[ "$failures" -eq 0 ]
