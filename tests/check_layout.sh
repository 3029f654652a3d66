#!/bin/sh
# check_layout.sh SOURCE_DIR: the include arrows of src/ point one way,
# from the daemon down to the core, and never round a circle.
# Only src/daemon/ may include the daemon's own headers, and src/core/, the
# ground every subsystem stands on, includes no subsystem.
src=$1/src
status=0
upward=$(grep -rn '#include "daemon/' "$src" | grep -v "^$src/daemon/")
if [ -n "$upward" ]; then
	echo "check_layout.sh: only src/daemon/ may include daemon/ headers:"
	echo "$upward"
	status=1
fi
core=$(grep -rn '#include "\(serial\|keyboard\|pointer\|joystick\|daemon\)/' "$src/core")
if [ -n "$core" ]; then
	echo "check_layout.sh: src/core/ includes a subsystem:"
	echo "$core"
	status=1
fi
# The output forms sit beside the serial line, below translation: they take
# events and know neither the key map, the screen nor the line.
output=$(grep -rn '#include "\(serial\|keyboard\|pointer\|joystick\|daemon\)/' "$src/output")
if [ -n "$output" ]; then
	echo "check_layout.sh: src/output/ includes what lies above it:"
	echo "$output"
	status=1
fi
# No two modules of src/ include each other, directly or round a longer
# circle: a header and its source file count as one module, so a circle
# means neither can be understood, built or tested without the other.
edges=$(cd "$src" && grep -r -o '^#include "[a-z_]*/[a-z_]*\.h"' --include='*.h' --include='*.cpp' . |
	sed 's|^\./\([^:]*\)\.[a-z]*:#include "\(.*\)\.h"$|\1 \2|' | awk '$1 != $2' | sort -u)
if ! loop=$(printf '%s\n' "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
	echo "check_layout.sh: modules of src/ include each other in a circle:"
	printf '%s\n' "$loop" | sed 's/^tsort: \(-: \)\{0,1\}/  /'
	status=1
fi
exit $status
