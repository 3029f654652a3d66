#!/bin/bash
# check_replay.sh BUILD_DIR: a capture of the demo's traffic, replayed into
# the real daemon, gives the very bytes the demo's script gives.
#
# ps2trace records the demo script as ps2sim plays it down a pseudo-terminal
# (the live path: a terminal opened read-only, configured as the daemon
# does). Then the daemon runs twice in a private world with the demo's key
# map, calibration and options: once fed the script, once the capture
# through ps2sim --replay. The keyboard and touch devices, the framebuffer
# after exit and the commands back to the adapter must match byte for byte.
set -euo pipefail

if [ "${1:-}" = --inside ]; then
	# Inside the world: $2 build, $3 ps2sim's input option and file, $4 out.
	build=$2 out=$4 tmp=$4
	read -r -a input <<< "$3"
	rm -f /dev/kbd /dev/ts /dev/fb0
	: > /dev/kbd
	: > /dev/ts
	truncate -s 614400 /dev/fb0
	mkdir -p /opt/Brindle/etc
	cp "$5" /opt/Brindle/etc/ser_code_vantor.ini
	echo "8000 0 -960000 0 11000 -1650000 65000" > /etc/pointercal
	"$build/tools/ps2sim" -l "$tmp/line" -n "${input[@]}" > "$out/sim" 2>&1 &
	sim=$!
	for _ in $(seq 500); do [ -L "$tmp/line" ] && break; sleep 0.01; done
	LD_PRELOAD=$build/tests/support/libps2_fake_fb.so \
		ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
		"$build/src/ps2linkd" -p "$tmp/line" -M > "$out/daemon" 2>&1 &
	daemon=$!
	wait $sim || { cat "$out/sim" "$out/daemon" >&2; exit 1; }
	kill -TERM $daemon
	wait $daemon || true
	cp /dev/kbd /dev/ts /dev/fb0 "$out/"
	grep -o 'serial .*' "$out/sim" > "$out/adapter" || true
	exit 0
fi

[ $# -eq 1 ] || { echo "Usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
script=$repo/tools/demo/demo.script
key_map=$repo/etc/ser_code_vantor.ini

why=$("$build/tools/ps2world" --probe 2>&1) || { echo "SKIP: $why"; exit 77; }

dir=$(mktemp -d /tmp/ps2link-replay.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$(dirname "$0")/record_demo.sh" "$build" "$script" "$dir/demo.capture" > /dev/null

for run in script replay; do
	mkdir "$dir/$run" "$dir/$run.world"
	[ $run = script ] && input=$script || input="--replay $dir/demo.capture"
	"$build/tools/ps2world" "$dir/$run.world" -- "$0" --inside "$build" "$input" \
		"$dir/$run" "$key_map"
done

# The ps2sim(1) example, the page's last block as it stands: once ps2sim has
# played the script, Ctrl-C's SIGINT goes to the whole process group;
# ps2keys must have shown the keys, and nothing may be left running. A
# person starts the world once the link is there: so does this run. Then
# ps2world takes the directory the example used again, and names one that
# does not exist.
example=$(sed -n '/^\.SH EXAMPLES/,/^\.SH SEE/p' "$repo/docs/ps2sim.1" |
	awk '/^\.nf/ {block = ""; next} /^\.fi/ {last = block; next} {block = block $0 "\n"}
	     END {printf "%s", last}' |
	sed "s/\\\\-/-/g; s/\\\\(aq/'/g; s|/tmp/|$dir/|g; s| keys.script| $dir/keys.script|" |
	awk -v link="$dir/adapter" '{print} /&$/ && !waited {
	     print "for _ in $(seq 500); do [ -L " link " ] && break; sleep 0.01; done"; waited = 1}')
echo 'type hi' > "$dir/keys.script"
failed=0
(cd "$repo" && PATH=$build/tools:$build/src:$PATH exec setsid bash -c "$example") > "$dir/example" 2>&1 &
group=$!
for _ in $(seq 1000); do grep -q "release 'i'" "$dir/example" && break; sleep 0.01; done
kill -INT -- -$group 2>/dev/null || true
for _ in $(seq 500); do kill -0 -- -$group 2>/dev/null || break; sleep 0.01; done
if kill -0 -- -$group 2>/dev/null || ! grep -q 'press    i' "$dir/example" ||
   ! grep -q '(closed by the writer)' "$dir/example"; then
	echo "check_replay.sh: the ps2sim(1) example left $(pgrep -g $group | wc -l) processes" \
	     "and printed:" >&2
	cat "$dir/example" >&2
	kill -KILL -- -$group 2>/dev/null || true
	failed=1
fi
wait $group || true
for root in world nosuch; do
	want=0 && [ $root = world ] || want=1
	status=0
	"$build/tools/ps2world" "$dir/$root" -- true 2> "$dir/said" || status=$?
	if [ $status -ne $want ] || { [ $root = nosuch ] && ! grep -q "nosuch does not exist" "$dir/said"; }
	then
		echo "check_replay.sh: ps2world on $root: status $status and: $(cat "$dir/said")" >&2
		failed=1
	fi
done

for device in kbd ts fb0 adapter; do
	if [ ! -s "$dir/script/$device" ]; then
		echo "check_replay.sh: the script gave nothing on $device" >&2
		failed=1
	elif ! cmp "$dir/script/$device" "$dir/replay/$device"; then
		echo "check_replay.sh: the replayed capture gives other bytes on $device" >&2
		failed=1
	fi
done
exit $failed
