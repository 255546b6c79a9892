#!/bin/sh
# Each program's man page renders without groff warnings and names every
# option its --help prints (and, for dncctl, every command), so the pages
# follow the programs.
#   check_man_pages.sh MANDIR WORKDIR PROGRAM PATH [PROGRAM PATH ...]
set -u
mandir=$1 work=$2
shift 2
rm -rf "$work"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

while [ $# -ge 2 ]; do
    name=$1 program=$2
    shift 2
    page=$mandir/$name.1
    [ -f "$page" ] || { fail "no man page for $name"; continue; }
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$name.1: $warnings"
    # Wide lines, no hyphenation: an option is never split across lines.
    groff -man -Tascii -P-cbou -rLL=300n -rHY=0 "$page" 2>/dev/null > "$work/$name.txt"

    # The window's help needs no display and must not touch the real home.
    HOME=$work/home XDG_CONFIG_HOME=$work/home XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen \
        "$program" --help > "$work/$name.help" 2>/dev/null || fail "$name --help failed"
    if [ "$name" = dncctl ]; then
        for command in $(sed -n '/^Commands/,/^$/p' "$work/$name.help" | awk 'NR > 1 && NF { print $1 }'); do
            grep -Eq "^ +$command( |\$)" "$work/$name.txt" || fail "$name.1 does not describe the command $command"
            "$program" "$command" --help >> "$work/$name.help" 2>/dev/null || fail "$name $command --help failed"
        done
    fi
    options=$(grep -oE -- '--[a-z][a-z-]*[a-z]' "$work/$name.help" | sort -u)
    [ -n "$options" ] || fail "$name --help printed no options"
    for option in $options; do
        # Whole options only: --help must not pass for --help-all.
        grep -Eq -- "(^|[^a-z-])$option([^a-z-]|\$)" "$work/$name.txt" || fail "$name.1 does not mention $option"
    done
    echo "$name.1: $(echo $options | wc -w) options checked"
done
[ "$failures" -eq 0 ] || exit 1
