#!/bin/sh
# Runs a validator: it passes only when it exits 0 and prints nothing, so a
# warning fails the test as an error would.
output=$("$@" 2>&1)
status=$?
[ -z "$output" ] || printf '%s\n' "$output"
[ "$status" -eq 0 ] && [ -z "$output" ]
