#!/bin/bash
# check_demo.sh BUILD_DIR [--update]: the demo, run unpaced, must show what
# tools/demo/demo.expected shows and leave the expected pixels on the screen.
#
# The demo drives the real daemon end to end (adapter frames in; key
# events, touch lines, light commands, messages, exit status and the
# screen out), and every wait in it is on a condition, so its transcript
# is the same on every run once the pseudo-terminal number, temporary
# names and process ids are masked. A difference means that something a
# person would see has changed. --update rewrites tools/demo/demo.expected from
# a run: only after reading the new transcript and finding it right.
set -euo pipefail
. "$(dirname "$0")/pixel_checks.sh"

repo=$(cd "$(dirname "$0")/../.." && pwd)
expected=$repo/tools/demo/demo.expected

if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != --update ]; }; then
	echo "Usage: $0 BUILD_DIR [--update]" >&2
	exit 2
fi
build=$(cd "$1" && pwd)

# The demo gives the daemon a private world (a mount namespace, inside a user
# namespace for a normal user). Where the kernel refuses it, say why.
why=$("$build/tools/ps2world" --probe 2>&1) || { echo "SKIP: $why"; exit 77; }

out=$(mktemp -d /tmp/ps2link-demo-check.XXXXXX)
trap 'rm -rf "$out"' EXIT

status=0
DEMO_SIM_OPTIONS=-n DEMO_ARTIFACTS=$out "$repo/tools/demo/demo.sh" "$build" > "$out/raw" 2>&1 ||
	status=$?
if [ $status -ne 0 ]; then
	cat "$out/raw"
	echo "check_demo.sh: the demo failed with status $status" >&2
	exit 1
fi

# Mask what differs from run to run, and the terminal's bold.
sed -E -e 's/\x1b\[[0-9;]*m//g' \
	-e "s#$out#ARTIFACTS#g" -e "s#$build#BUILD#g" \
	-e 's#/dev/pts/[0-9]+#/dev/pts/N#g' \
	-e 's#/tmp/ps2link-demo\.[A-Za-z0-9]+#/tmp/DEMO#g' \
	-e 's/pid [0-9]+/pid N/g' "$out/raw" > "$out/transcript"

if [ $# -eq 2 ]; then
	cp "$out/transcript" "$expected"
	echo "check_demo.sh: wrote $expected; read it before committing it"
	exit 0
fi

failed=0
if ! diff -u "$expected" "$out/transcript"; then
	echo "check_demo.sh: the transcript differs from tools/demo/demo.expected (above)" >&2
	failed=1
fi

# legend | column | row | test | value
checks=(
	"cursor tip, black, at the last anchors (column 304, row 500)|303|500|=|0000"
	"cursor body, white, one in from the tip|302|501|=|ffff"
	"star stroke where the cursor stood meanwhile: kept by the erase|295|486|=|ff20"
	"star stroke at the first touch|344|470|=|ff20"
	"first cursor position (column 115, row 157): background back|114|157|!=|0000"
	"first cursor position, a white pixel: background back|113|158|!=|ffff"
	"typed line 1, seen sideways: the bar of the H (x 52, y 412)|67|52|=|10c9"
	"typed line 1: inside the H, the field (x 52, y 408)|71|52|=|ffdf"
	"typed line 1: the dot of the ! in 13th place (x 196, y 418)|61|196|=|10c9"
	"typed line 2: an i under Caps Lock and shift, no I (x 64, y 426)|53|64|=|ffdf"
	"typed line 2: the text cursor after Hi (x 72, y 430)|49|72|=|10c9"
)
check_pixels check_demo.sh "$out/screen.rgb565" "${checks[@]}" || failed=1
[ -s "$out/screen.png" ] || { echo "check_demo.sh: no screen.png" >&2; failed=1; }

# A user's own key map and script, by paths relative to where the demo
# starts: the daemon and the readers must both take the map (1C sends b),
# a missing file is named before anything runs, and a script ps2sim
# refuses ends the demo with ps2sim's message alone.
mkdir "$out/own"
printf 'lshift 12\n12 LeftShift - 2a\n12 LeftShift S 2a\n1C b - 30\n1C b S 30\n' > "$out/own/map"
echo "type aA" > "$out/own/script"
if ! (cd "$out/own" && DEMO_SIM_OPTIONS=-n DEMO_ARTIFACTS=$out/own \
	"$repo/tools/demo/demo.sh" -m map -s script "$build") > "$out/own/raw" 2>&1 ||
	! grep -q 'text field: "bB"$' "$out/own/raw"; then
	cat "$out/own/raw"
	echo "check_demo.sh: the demo with its own key map and script did not type bB" >&2
	failed=1
fi
if "$repo/tools/demo/demo.sh" -m "$out/none" "$build" 2> "$out/own/missing" ||
	! grep -q "no readable key map $out/none" "$out/own/missing"; then
	echo "check_demo.sh: a missing key map was not named: $(cat "$out/own/missing")" >&2
	failed=1
fi
echo "tap nokey" > "$out/own/bad"
if "$repo/tools/demo/demo.sh" -s "$out/own/bad" "$build" > /dev/null 2> "$out/own/refused" ||
	[ "$(wc -l < "$out/own/refused")" -ne 1 ] ||
	! grep -q "^ps2sim: $out/own/bad:1: " "$out/own/refused"; then
	echo "check_demo.sh: a script ps2sim refuses gave: $(cat "$out/own/refused")" >&2
	failed=1
fi
exit $failed
