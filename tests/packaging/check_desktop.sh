#!/bin/sh
# The desktop entry passes desktop-file-validate without errors, warnings
# or hints.
set -u
validate=$1 entry=$2
output=$("$validate" "$entry" 2>&1)
status=$?
[ -n "$output" ] && echo "$output"
[ "$status" -eq 0 ] && [ -z "$output" ] || exit 1
echo "desktop entry ok"
