#!/bin/bash
# check_ps2trace.sh BUILD_DIR [--update]: ps2trace on a live pseudo-terminal
# and on the demo's capture.
#
# The demo script is played down a pseudo-terminal and ps2trace reads it
# there as it would a serial line (record_demo.sh: one line per frame sent),
# recording a capture. The capture, decoded with the demo's key map, options
# and calibration, must read as tests/tools/ps2trace_demo.expected: frames,
# keys, the daemon's events and the key map lines behind them. --update
# rewrites that file (the target update_ps2trace_golden), to be read before
# it is committed. Last, a line that another process holds is refused, and
# that process named.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
expected=$here/ps2trace_demo.expected
trace=$build/tools/ps2trace
dir=$(mktemp -d /tmp/check_ps2trace.XXXXXX)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null || true; rm -rf "$dir"' EXIT

"$here/record_demo.sh" "$build" "$repo/tools/demo/demo.script" "$dir/capture" > "$dir/live"
echo "8000 0 -960000 0 11000 -1650000 65000" > "$dir/pointercal"
"$trace" -m "$repo/etc/ser_code_vantor.ini" -M -P "$dir/pointercal" "$dir/capture" > "$dir/decoded"
if [ "${2:-}" = --update ]; then
	cp "$dir/decoded" "$expected"
	echo "check_ps2trace.sh: wrote $expected; read it before committing it"
	exit 0
fi
failed=0
if ! diff -u "$expected" "$dir/decoded"; then
	echo "check_ps2trace.sh: the decoded capture differs (after a change to the demo script:" \
	     "cmake --build BUILD --target update_ps2trace_golden, then read the diff)" >&2
	failed=1
fi
# With -u, the input devices' reports: h, then the mouse's relative motion.
uinput=$("$trace" -m "$repo/etc/ser_code_vantor.ini" -M -u "$dir/capture")
if ! grep -q '|  keyboard MSC_SCAN 33, EV_KEY 35 1 ' <<< "$uinput" ||
   ! grep -q '|  mouse EV_REL 0 ' <<< "$uinput"; then
	echo "check_ps2trace.sh: -u shows no input device reports" >&2
	failed=1
fi
# An input device releases what the press sent: the release of a, after
# the shift's, names the line the press used (S), not the plain one.
printf 'ps2link capture 1\n0.000000 4B 01 12 00 00 13\n0.100000 4B 01 1C 00 00 1D\n0.200000 4B 02 F0 12 00 04\n0.300000 4B 02 F0 1C 00 0E\n' > "$dir/shifted"
if ! "$trace" -m "$repo/etc/ser_code_vantor.ini" -u "$dir/shifted" | grep -q 'EV_KEY 30 0  line 498: 1C a S '; then
	echo "check_ps2trace.sh: -u names another line than the press's for a release" >&2
	failed=1
fi
# Without a key map, the same frames with their meaning only.
if ! diff <(sed "s/ *|.*//; s/ *\$//" "$expected") <(sed "s/ *\$//" "$dir/live"); then
	echo "check_ps2trace.sh: the live trace differs from the capture's frames" >&2
	failed=1
fi

# Refusals, one a row: command | status | message [| file standard output
# is appended to]. A near-miss capture is refused alike by both tools, a
# NUL in it shown escaped, a line too long for the reader's buffer by its
# number; -w and standard output never write over the
# input (the file size limit stops a runaway); ps2sim -l leaves a path that
# is not its link alone; a key map that is a directory or a device is
# refused as the daemon refuses it; a write that fails is named; a signal
# ends the trace of a file.
printf 'ps2link capture 1\r\n0.000000 4B 01 1C 00 00 1D\r\n' > "$dir/crlf"
printf 'ps2link capture 1\n0.0\0001 4B\n' > "$dir/nul"
{ printf 'ps2link capture 1\n0.000000 4B 01 1C 00 00 1D\n0.000001'; printf ' 4B%.0s' $(seq 22000); echo; } > "$dir/long"
ln -s capture "$dir/alias"
ln "$dir/capture" "$dir/hard"
cp "$dir/capture" "$dir/capture.before"
crlf="crlf:1: the header ends in a carriage return"
refusals=(
	"$trace $dir/crlf|1|ps2trace: $dir/$crlf"
	"$trace -s abc $dir/capture|2|-s abc: a speed is a number of bits per second"
	"$build/tools/ps2sim -p /dev/null --replay $dir/crlf|2|ps2sim: $dir/$crlf"
	"$build/tools/ps2sim -p /dev/null --replay $dir/nul|2|nul:2: the time \"0.0\\x001\" must be seconds"
	"$trace $dir/long|1|long:3: the line is longer than 65536 bytes"
	"$build/tools/ps2sim -p /dev/null --replay $dir/long|2|long:3: the line is longer than 65536 bytes"
	"$trace -w $dir/alias $dir/capture|1|is the input $dir/capture: recording would overwrite it"
	"$build/tools/ps2sim -l $dir/capture /dev/null|1|the path exists and is no link of ours"
	"$trace -m $repo/etc/ser_code_vantor.ini -u -V $dir/capture|2|refuses these options together: -u -V"
	"$trace -m $dir $dir/capture|1|Key map file is not found"
	"$trace -m /dev/null $dir/capture|1|Key map file is not found"
	"$trace $dir/capture|1|standard output is the input $dir/capture: the trace would|$dir/hard"
	"$trace -w - $dir/alias|1|standard output is the input $dir/alias: the capture would|$dir/capture"
	"$trace -q -w /dev/full $dir/capture|1|ps2trace: cannot write /dev/full: No space left on device"
	"$trace $dir/capture|1|ps2trace: cannot write standard output: No space left on device|/dev/full"
	"$build/tools/ps2sim -h|1|ps2sim: cannot write standard output: No space left on device|/dev/full"
	"timeout --preserve-status -s INT -k 5 1 $trace -q /dev/zero|130|"
)
for row in "${refusals[@]}"; do
	IFS='|' read -r command want message out <<< "$row"
	status=0
	output=$(ulimit -f 1000; $command 2>&1 >> "${out:-/dev/stdout}") || status=$?
	if [ $status -ne "$want" ] || [[ $output != *"$message"* ]]; then
		echo "check_ps2trace.sh: '$command' gave status $status and: $output" >&2
		failed=1
	fi
done
cmp -s "$dir/capture.before" "$dir/capture" || { echo "check_ps2trace.sh: the capture was written to" >&2; failed=1; }

# A held line: flock(1) holds it the way the daemon does while ps2trace runs,
# with a second descriptor as the daemon has, and is named once; a terminal
# given as FILE is read as with -p, so it is refused too.
"$build/tools/ps2sim" -l "$dir/held" -t 60 /dev/null > /dev/null 2>&1 &
sim=$!
for _ in $(seq 500); do [ -L "$dir/held" ] && break; sleep 0.01; done
line=$(readlink "$dir/held")
for option in -p ""; do
	status=0
	message=$(flock -x "$line" "$trace" $option "$line" 2>&1 3<"$line") || status=$?
	if [ $status -ne 1 ] || ! grep -qE "^ps2trace: $line is locked, .* open in .*flock \(pid [0-9]+\)" <<< "$message" ||
	   [ "$(grep -o 'flock (pid' <<< "$message" | wc -l)" -ne 1 ]; then
		echo "check_ps2trace.sh: a held line ('$option') gave status $status and: $message" >&2
		failed=1
	fi
done
# ps2sim removes its link when it ends.
kill "$sim"; wait "$sim" 2>/dev/null || true; sim=
[ ! -L "$dir/held" ] || { echo "check_ps2trace.sh: ps2sim left its link behind" >&2; failed=1; }
exit $failed
