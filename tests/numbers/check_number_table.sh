#!/bin/sh
# check_number_table.sh [EMULATOR...] PROGRAM: the program's table must be
# number_table.expected, byte for byte (and the program must succeed: built
# against glibc for ARM it also fails on any difference from scanf).
expected=$(dirname "$0")/number_table.expected
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
"$@" > "$actual"
status=$?
if ! diff -u "$expected" "$actual"; then
	echo "check_number_table.sh: the table differs from $expected (above)" >&2
	exit 1
fi
exit $status
