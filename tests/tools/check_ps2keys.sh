#!/bin/bash
# check_ps2keys.sh PS2KEYS: ps2keys names keys from the daemon's tables,
# turns touches back into screen positions, types and paints where it should.
#
# The demo's right-hand column is only as true as this decoder: a key
# named from a shifted line or a later duplicate, or a touch placed with
# the calibration applied the wrong way round, would show people something
# the daemon never did. The daemon's loader reads the map; what is checked
# here is which of its slots name a code. A small key map with the awkward
# slots, a calibration, input lines and the exact output expected; then
# the arguments it refuses.
set -euo pipefail
. "$(dirname "$0")/pixel_checks.sh"

keys=$1
dir=$(mktemp -d /tmp/check_ps2keys.XXXXXX)
trap 'rm -rf "$dir"' EXIT

cat > "$dir/map" <<'EOF'
1c a - 1e
1C A S 1e
1d later - 1e
12 LeftShift - 2a
E075 Up - 67
75 KP8 - 48
59 shiftonly S 36
J 0 Fire 1c
J 3 Jump 1e
16 1 - 02
41 comma - 33
58 Caps - 3a
E05A Enter - 60
66 BackSpace - 0e
EOF
echo "8000 0 -960000 0 11000 -1650000 65000" > "$dir/pointercal"
truncate -s 614400 "$dir/fb"

printf '%s' ' 30 1 ' $'\n' ' 30 0 ' $'\n' ' 42 1 ' $'\n' ' 103 0 ' $'\n' ' 72 1 ' $'\n' \
	' 54 1 ' $'\n' ' 28 1 ' $'\n' > "$dir/kbd"
# The last touch lies far off the screen: clipped, not painted step by step.
printf '500 2915 2927 0\n0 2590 3104 0\nhello\n500 2000000000 2000000000 0\n' > "$dir/ts"
# Typing: "a" and Enter (scrolled away at the end); 46 "a"s under Caps Lock
# (the last one does not fit), Enter; plain, shifted, shift and Caps Lock,
# an ignored key, two shifted keys in one hold, comma; Enter and two
# BackSpaces, which take back the empty line and the comma.
{
	printf ' %s \n' "30 1" "96 1" "58 1" "58 0"
	for _ in $(seq 46); do printf ' 30 1 \n'; done
	printf ' %s \n' "96 1" "58 1" "30 1" "42 1" "30 1" "42 0" "58 1" "42 1" "30 1" "42 0" "30 0" \
		"103 1" "42 1" "30 1" "2 1" "42 0" "51 1" "96 1" "14 1" "14 1"
} > "$dir/typed"

cat > "$dir/expected" <<'EOF'
kbd  " 30 1 \n"    press    a  (joystick 3 Jump)
kbd  " 30 0 \n"    release  a  (joystick 3 Jump)
kbd  " 42 1 \n"    press    LeftShift
kbd  " 103 0 \n"   release  Up
kbd  " 72 1 \n"    press    KP8
kbd  " 54 1 \n"    press    ?
kbd  " 28 1 \n"    press    ?  (joystick 0 Fire)
kbd  (closed by the writer)
ts   "500 2915 2927 0\n"  touch at column 344, row 470
ts   "0 2590 3104 0\n"    no touch, column 304, row 500
ts   "hello\n"  (not a key event or a touch line)
ts   "500 2000000000 2000000000 0\n" touch at column 246153831, row 338461513
ts   (closed by the writer)
typed  text field: "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA" "aAaa!"
EOF

{
	"$keys" -P kbd -m "$dir/map" "$dir/kbd"
	"$keys" -P "ts " -c "$dir/pointercal" -f "$dir/fb" -b < "$dir/ts"
	"$keys" -P typed -m "$dir/map" -f "$dir/fb" -t "$dir/typed" | grep "text field"
} > "$dir/actual"

failed=0
diff -u "$dir/expected" "$dir/actual" || failed=1

# legend | column | row | test | value
checks=(
	"the touch with the button down is painted|344|470|=|ff20"
	"the dot has a radius of two|344|472|=|ff20"
	"the touch without the button is not|304|500|!=|ff20"
	"the picture's title bar, top left as seen sideways|479|0|=|defc"
	"typed, seen sideways: the 45th A's bar on line 1 (x 584, y 412)|67|584|=|10c9"
	"typed: the text field's border stays (x 598, y 412)|67|598|=|5acd"
	"typed: the dot of ! on line 2, fifth place (x 100, y 436)|43|100|=|10c9"
	"typed: the text cursor after it (x 108, y 430)|49|108|=|10c9"
)
check_pixels check_ps2keys.sh "$dir/fb" "${checks[@]}" || failed=1

# What ps2keys refuses, in one message (with its "Try" line for a usage
# error), and a write that fails. legend | arguments | status | the
# message's first line | lines [| where standard output goes]
refusals=(
	"a calibration that is not there: the reader's warning alone|-c $dir/none|1|Warning: cannot open $dir/none.|1"
	"a directory to read|$dir|1|ps2keys: cannot read $dir: Is a directory|1"
	"a directory as the key map|-m $dir|1|ps2keys: the key map $dir is a directory|1"
	"-b without a framebuffer|-b|2|ps2keys: -b needs -f FRAMEBUFFER|2"
	"-l without a framebuffer, as -b|-l 960|2|ps2keys: -l needs -f FRAMEBUFFER|2"
	"a write that fails is named|-h|1|ps2keys: cannot write standard output: No space left on device|1|/dev/full"
)
for row in "${refusals[@]}"; do
	IFS='|' read -r legend arguments status first lines output <<< "$row"
	got=0
	"$keys" $arguments < /dev/null > "${output:-/dev/null}" 2> "$dir/stderr" || got=$?
	if [ $got -ne "$status" ] || [ "$(head -n 1 "$dir/stderr")" != "$first" ] ||
		[ "$(wc -l < "$dir/stderr")" -ne "$lines" ]; then
		echo "FAIL: $legend: ps2keys $arguments ended with $got: $(cat "$dir/stderr")"
		failed=1
	fi
done
exit $failed
