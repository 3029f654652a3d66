# Sourced by the tools' test scripts: checks of single pixels of a
# framebuffer file (480 x 640 pixels of 16 bits, 960 bytes a row).
#
# check_pixels WHO FILE CHECK...: each CHECK is "legend|column|row|test|value"
# with test "=" or "!=" and value four hex digits; every failing check is
# reported as WHO: legend. Returns 1 when any failed.
check_pixels() {
	local who=$1 file=$2 failed=0 check legend column row test value actual
	shift 2
	for check in "$@"; do
		IFS='|' read -r legend column row test value <<< "$check"
		actual=$(od -An -tx2 -j $((row * 960 + column * 2)) -N2 "$file" | tr -d ' ')
		if { [ "$test" = "=" ] && [ "$actual" != "$value" ]; } ||
			{ [ "$test" = "!=" ] && [ "$actual" = "$value" ]; }; then
			echo "$who: $legend: pixel ($column, $row) is $actual, expected $test $value" >&2
			failed=1
		fi
	done
	return $failed
}
