#!/bin/sh
# run_fuzz.sh BUILD_DIR SECONDS: runs every fuzz target of the build for
# SECONDS each, one after the other, from its seed corpus plus what earlier
# runs found in BUILD_DIR/tests/fuzz/work/. Prints per target the
# executions done and any findings (inputs that crashed, leaked or timed
# out, kept in BUILD_DIR/tests/fuzz/findings/). A finding belongs in
# corpus/<target>/ once its fault is fixed, so that every run replays it.
# Exit status: 0 without findings, 1 with.
set -u

build=$1
seconds=$2
source_dir=$(cd "$(dirname "$0")" && pwd)
out=$build/tests/fuzz
status=0

for target in frame_stream key_map calibration options; do
	mkdir -p "$out/work/$target" "$out/findings" "$out/logs"
	log=$out/logs/$target.log
	before=$(ls "$out/findings" | grep -c "^$target-" || true)
	# A frame stream input costs about 30 us per mouse frame (the cursor's
	# four passes): keep inputs to a hundred frames or so.
	limit=
	[ "$target" = frame_stream ] && limit=-max_len=640
	"$out/fuzz_$target" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 $limit \
		-artifact_prefix="$out/findings/$target-" \
		"$out/work/$target" "$source_dir/corpus/$target" >"$log" 2>&1
	result=$?
	runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
	speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
	coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
	after=$(ls "$out/findings" | grep -c "^$target-" || true)
	printf '%-13s %12s executions (%s/s), %s\n' "$target" "${runs:-?}" "${speed:-?}" "$coverage"
	if [ "$result" -ne 0 ] || [ "$after" -gt "$before" ]; then
		status=1
		echo "  FINDING (exit status $result): $(ls -t "$out/findings" | grep "^$target-" | head -n 1)"
		grep -m 3 -E 'ERROR|runtime error|SUMMARY' "$log" | sed 's/^/  /'
		echo "  log: $log"
	fi
done
exit $status
