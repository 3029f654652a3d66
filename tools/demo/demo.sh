#!/bin/bash
# demo.sh [-m KEYMAP] [-s SCRIPT] BUILD_DIR: ps2linkd at work, with a
# simulated adapter.
#
# The daemon only knows fixed paths (/dev/kbd, /dev/ts, /dev/fb0,
# /etc/pointercal, its key map under /opt), so the demo runs it in a private
# mount namespace whose /dev, /etc and /opt are overlays (ps2world, the same
# world the end-to-end tests use; as root or as a normal user): the
# stand-ins created there (FIFOs, a framebuffer file, a calibration) never
# reach the host. ps2sim plays the adapter on a pseudo-terminal, two ps2keys show
# what the daemon writes to the keyboard and touch devices and play the
# handheld's software on the screen: the touch one paints a picture and
# the strokes, the keyboard one types into the picture's text field. At the
# end fb2png takes a picture of the screen, cursor included.
#
# -m KEYMAP  the key map the daemon loads (copied to its fixed path in the
#            world) and the readers name keys by; etc/ser_code_vantor.ini
# -s SCRIPT  what ps2sim plays, in its script language (ps2sim -h);
#            tools/demo/demo.script
# make demo MAP=FILE SCRIPT=FILE passes them on; relative paths are taken
# from the directory demo.sh is started in (the tree's top for make).
#
# Environment: DEMO_ARTIFACTS, where the picture goes (artifacts/demo);
# DEMO_SIM_OPTIONS, more options for ps2sim (-n: no pacing for people).
set -euo pipefail

usage() {
	echo "Usage: $0 [-m KEYMAP] [-s SCRIPT] BUILD_DIR   (make demo runs it on build/default)" >&2
	exit 2
}

repo=$(cd "$(dirname "$0")/../.." && pwd)
key_map=$repo/etc/ser_code_vantor.ini
script=$repo/tools/demo/demo.script
if [ "${1:-}" = --in-namespace ]; then
	inside=yes
	tmp=$3
	key_map=$4
	script=$5
	shift
else
	inside=no
	while getopts m:s: letter; do
		case $letter in
		m) key_map=$OPTARG ;;
		s) script=$OPTARG ;;
		*) usage ;;
		esac
	done
	shift $((OPTIND - 1))
	require_file() { # WHAT PATH
		if [ ! -f "$2" ] || [ ! -r "$2" ]; then
			echo "demo.sh: no readable $1 $2 (relative paths start at $(pwd))" >&2
			exit 1
		fi
	}
	require_file "key map" "$key_map"
	require_file script "$script"
	key_map=$(realpath "$key_map")
	script=$(realpath "$script")
fi
[ $# -ge 1 ] || usage
if [ ! -d "$1" ]; then
	echo "demo.sh: no build directory $1 (make demo builds build/default first)" >&2
	exit 1
fi
build=$(cd "$1" && pwd)

daemon=$build/src/ps2linkd
sim=$build/tools/ps2sim
keys=$build/tools/ps2keys
fb2png=$build/tools/fb2png
world=$build/tools/ps2world
fake_fb=$build/tests/support/libps2_fake_fb.so
artifacts=${DEMO_ARTIFACTS:-$repo/artifacts/demo}

# ------------------------------------------------------------------ outside

if [ $inside = no ]; then
	for file in "$daemon" "$sim" "$keys" "$fb2png" "$world" "$fake_fb"; do
		if [ ! -e "$file" ]; then
			echo "demo.sh: $file is missing (build first: make demo does)" >&2
			exit 1
		fi
	done
	for tool in mkfifo stdbuf iconv; do
		command -v $tool >/dev/null || { echo "demo.sh: $tool is needed" >&2; exit 1; }
	done
	if [ ! -d /opt ]; then
		echo "demo.sh: the host has no /opt to lay the key map over" >&2
		exit 1
	fi
	tmp=$(mktemp -d /tmp/ps2link-demo.XXXXXX)
	trap 'rm -rf "$tmp"' EXIT
	status=0
	"$world" "$tmp" -- "$0" --in-namespace "$build" "$tmp" "$key_map" "$script" || status=$?
	exit $status
fi

# ------------------------------------------------------------------- inside

section() { printf '\n\033[1m%s\033[0m\n' "$*"; }

# Nothing below may reach the host's directories.
for dir in dev etc opt; do
	if [ "$(stat -f -c %T "/$dir")" != overlayfs ]; then
		echo "demo.sh: /$dir is not the private overlay; stopping" >&2
		exit 1
	fi
done
mkdir -p "$tmp/bin"

# The stand-ins, all inside the overlays.
rm -f /dev/kbd /dev/ts /dev/fb0
mkfifo /dev/kbd /dev/ts
truncate -s 614400 /dev/fb0 # 640 rows of 960 bytes, RGB565
mkdir -p /opt/Brindle/etc
cp "$key_map" /opt/Brindle/etc/ser_code_vantor.ini
map_source="copied from $key_map"
[ "$key_map" != "$(realpath "$repo/etc/ser_code_vantor.ini")" ] || map_source="etc/ in the tree"
# A calibration like a resistive panel's: raw 12-bit points, scaled and
# offset to the 480 x 640 screen.
echo "8000 0 -960000 0 11000 -1650000 65000" > /etc/pointercal
# The layout loader of console mode (-c), should anyone try the demo with
# it: says what it was given instead of touching the kernel's layout.
printf '#!/bin/sh\necho "loadkmap: would load a kernel keyboard layout of $(wc -c) bytes"\n' \
	> "$tmp/bin/loadkmap"
chmod +x "$tmp/bin/loadkmap"
export PATH="$tmp/bin:$PATH"

section "ps2linkd demo"
cat <<EOF
A private mount namespace with overlays on /dev, /etc and /opt holds:
  /dev/kbd, /dev/ts   FIFOs, read by ps2keys (key names from the key map,
                      typed into the picture's text field; touches turned
                      back into screen positions, painted as dots into the
                      framebuffer like the handheld would)
  /dev/fb0            a framebuffer file (480 x 640, RGB565), answered for
                      by $(basename "$fake_fb")
  /etc/pointercal     $(cat /etc/pointercal)
  key map             /opt/Brindle/etc/ser_code_vantor.ini ($map_source)
ps2sim plays the adapter on a pseudo-terminal; the daemon runs as
  ps2linkd -p <pseudo-terminal> -M -i
EOF

events=$tmp/events.log
daemon_log=$tmp/daemon.log
: > "$events"
: > "$daemon_log"
pids=()
stop_all() {
	for pid in "${pids[@]}"; do
		kill "$pid" 2>/dev/null || true
	done
	wait 2>/dev/null || true
}
trap stop_all EXIT

# The readers first: the daemon's opens of the FIFOs wait for them. The
# touch reader paints the screen's picture before it opens /dev/ts, so the
# picture is there before the daemon can draw its first cursor, and before
# it opens /dev/kbd after /dev/ts: the keyboard reader types into the
# picture's text field only after that.
"$keys" -P "ts " -c /etc/pointercal -f /dev/fb0 -b /dev/ts >> "$events" 2>&1 &
ts_reader=$!
pids+=($ts_reader)
"$keys" -P "kbd" -m /opt/Brindle/etc/ser_code_vantor.ini -f /dev/fb0 -t /dev/kbd \
	>> "$events" 2>&1 &
kbd_reader=$!
pids+=($kbd_reader)

"$sim" -l "$tmp/adapter" -w /dev/kbd -w /dev/ts -e "$events" -e "ps2linkd=$daemon_log" \
	-d 35 ${DEMO_SIM_OPTIONS:-} "$script" &
sim_pid=$!
pids+=($sim_pid)

# ps2sim publishes the pseudo-terminal's slave side as a link.
for _ in $(seq 500); do
	[ -L "$tmp/adapter" ] && break
	kill -0 $sim_pid 2>/dev/null || break
	sleep 0.01
done
if [ ! -L "$tmp/adapter" ]; then
	# A ps2sim that has ended said why (a script it refuses, most often):
	# its status is the demo's.
	if ! kill -0 $sim_pid 2>/dev/null; then
		sim_status=0
		wait $sim_pid || sim_status=$?
		exit $((sim_status == 0 ? 1 : sim_status))
	fi
	echo "demo.sh: ps2sim did not open a pseudo-terminal" >&2
	exit 1
fi
line=$(readlink "$tmp/adapter")

# Line-buffered output, so that the daemon's messages reach its log (and
# ps2sim's display) as they are printed. A daemon built with the address
# sanitizer must be told to accept the preloaded libraries before its own.
daemon_asan=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
LD_PRELOAD=$fake_fb ASAN_OPTIONS=$daemon_asan stdbuf -oL "$daemon" -p "$line" -M -i \
	> "$daemon_log" 2>&1 &
daemon_pid=$!
pids+=($daemon_pid)

sim_status=0
wait $sim_pid || sim_status=$?
if [ $sim_status -ne 0 ]; then
	echo "demo.sh: ps2sim failed with status $sim_status; the daemon said:" >&2
	iconv -f EUC-JP -t UTF-8 "$daemon_log" >&2 || cat "$daemon_log" >&2
	exit 1
fi

# The picture is taken while the daemon still runs: its clean-up at exit
# takes the cursor off the screen.
mkdir -p "$artifacts"
png=$artifacts/screen.png
"$fb2png" /dev/fb0 "$png"
cp /dev/fb0 "$artifacts/screen.rgb565"

# ps2sim has ended and its pseudo-terminal with it: the daemon sees its line
# lost, lets go of whatever was held and waits for the line to come back.
for _ in $(seq 500); do
	grep -q ' lost; ' "$daemon_log" && break
	sleep 0.01
done

section "== Stopping the daemon with SIGTERM =="
kill -TERM $daemon_pid
daemon_status=0
wait $daemon_pid || daemon_status=$?
wait $ts_reader $kbd_reader || true
echo "ps2linkd ended with status $daemon_status. Everything it printed (EUC-JP shown as UTF-8):"
iconv -f EUC-JP -t UTF-8 "$daemon_log" | sed 's/^/  | /'
echo "The readers saw the devices close:"
for reader in kbd ts; do
	grep -E "^$reader +\(closed by the writer\)" "$events" | sed 's/^/  | /'
done

section "== The screen =="
echo "$png"
echo "640 x 480, as seen holding the handheld sideways: the typed text in the picture's"
echo "field, strokes painted where the mouse moved with its button down, the daemon's"
echo "cursor where the mouse stopped. The field shows, as the keyboard reader said:"
grep -E "^kbd +text field:" "$events" | sed 's/^kbd  /  | /'

echo "(The framebuffer as it was: $artifacts/screen.rgb565)"
