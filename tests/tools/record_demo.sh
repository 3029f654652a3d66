#!/bin/bash
# record_demo.sh BUILD_DIR SCRIPT CAPTURE: ps2sim plays SCRIPT down a
# pseudo-terminal and ps2trace, reading the terminal as it would a serial
# line, records it as CAPTURE; ps2trace's decoding goes to standard output.
# ps2sim waits for ps2trace to read, and after each frame until it has taken
# the frame; its exit hangs the line up, which ends ps2trace.
set -euo pipefail

build=$1
dir=$(mktemp -d /tmp/ps2link-record.XXXXXX)
trap 'rm -rf "$dir"' EXIT

"$build/tools/ps2sim" -l "$dir/line" -n "$2" > "$dir/sim" 2>&1 &
sim=$!
for _ in $(seq 500); do
	[ -L "$dir/line" ] && break
	kill -0 $sim 2>/dev/null || break
	sleep 0.01
done
[ -L "$dir/line" ] || { cat "$dir/sim" >&2; exit 1; }
"$build/tools/ps2trace" -p "$(readlink "$dir/line")" --record "$3" > "$dir/trace" 2> "$dir/trace.err"
wait $sim || { cat "$dir/sim" "$dir/trace.err" >&2; exit 1; }

# Every frame ps2sim sent is one line of the trace.
sent=$(grep -cE '^  ([0-9A-F]{2} ){5}[0-9A-F]{2}  ' "$dir/sim")
traced=$(wc -l < "$dir/trace")
if [ "$sent" -ne "$traced" ]; then
	echo "record_demo.sh: ps2sim sent $sent frames, ps2trace showed $traced lines" >&2
	cat "$dir/trace" >&2
	exit 1
fi
cat "$dir/trace"
