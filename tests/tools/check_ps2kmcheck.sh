#!/bin/bash
# check_ps2kmcheck.sh PS2KMCHECK: the checker's warnings, one case a row.
#
# The daemon takes some key map lines otherwise than their writer meant
# and says nothing; ps2kmcheck must say it. Each row: the options, the map
# (printf escapes; "DIR", "FIFO", "NULL" for a directory, a FIFO, a link to
# /dev/null), the exit status and a text the
# output must hold.
set -uo pipefail

check=$1
dir=$(mktemp -d /tmp/check_ps2kmcheck.XXXXXX)
trap 'rm -rf "$dir"' EXIT

cases=(
	'|1C a SC 0x1E\n|0|map: 0 lines skipped, 0 warnings'
	'|1c a s 0x1E\n|1|flags "s" are read as - (no modifier)'
	'|1C a SX 0x1E\n|1|read as S (shift): only upper-case S, C, F and M count (ignored here: X)'
	'|1C a SHIFT 0x1E\n|1|flags "SHIFT" are read as SF (shift+alt)'
	'|1C a S 0x1E\n1C b S 0x1E\n|1|2: warning: 1C b S 0x1E\n    scan code 1C under S (shift) was filled by line 1 already'
	'|E0 75 - 0x67\n|1|scan code written "E0 75": the daemon reads a plain scan code E0'
	'|E0 75 Up - 0x67\n|1|(write E075, without a blank: "E0 75" is the plain scan code E0)'
	'|1C a - 13\n|1|key code 13 is read as hexadecimal 0x13 = 19; write 0x13 if that is meant, or 0x0D'
	'|J 3 up 75\n|1|key code 75 is read as hexadecimal 0x75 = 117'
	'|# only a comment\n|1|warning: no line is used'
	'|DIR|2|ps2kmcheck: cannot read map: no regular file, which ps2linkd refuses ("Key map file is not found")'
	'--warnings-ok|NULL|2|ps2kmcheck: cannot read map: no regular file'
	'|FIFO|2|ps2kmcheck: cannot read map: no regular file'
	'|1C a - 0x1E # xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx \n|0|map: 0 lines skipped, 0 warnings'
	'|# note: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx1C a - 0x10\n|1|the rest, "1C a - 0x10", as a line of its own: scan code 1C under - (no modifier) sends key code 16 (KEY_Q)'
	'|\033[2J\n|1|1: skipped: \\x1B[2J\n'
	'|1C\0b - 0x1F\n1D c S 0x1F\n1D c S 0x1F\n|1|3: warning: 1D c S 0x1F\n    scan code 1D under S (shift) was filled by line 2 already'
	'--warnings-ok|1C a - 13\n|0|map: 0 lines skipped, 1 warning'
	'-v|E075 Up SCFM 0x67\n|0|scan code E0 75 under SCFM (shift+ctrl+alt+cmd) sends key code 103 (KEY_UP)'
	'-v|77 NumLock - 0\n|0|scan code 77 under - (no modifier) sends nothing, and its press switches the NumLock light'
	'-h||0|usage:'
	'-x|1C a - 0x1E\n|2|ps2kmcheck: unknown option -x\nTry '"'"'ps2kmcheck -h'"'"' for more information.'
	'--help||0|usage:'
)

failed=0
for row in "${cases[@]}"; do
	IFS='|' read -r options map status expected <<< "$row"
	rm -rf "$dir/map"
	case $map in
	DIR) mkdir "$dir/map" ;;
	FIFO) mkfifo "$dir/map" ;;
	NULL) ln -s /dev/null "$dir/map" ;;
	*) printf "$map" > "$dir/map" ;;
	esac
	output=$(cd "$dir" && "$check" $options map 2>&1)
	got=$?
	if [[ $got != "$status" || $output != *"$(printf "$expected")"* ]]; then
		echo "FAILED: options '$options' map '$map': status $got (want $status), output:"
		echo "$output"
		failed=1
	fi
done
exit $failed
