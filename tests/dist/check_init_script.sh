#!/bin/bash
# check_init_script.sh BUILD_DIR CMAKE: the init script, as installed, runs
# the real daemon.
#
# The build is installed into a staging tree (cmake --install, prefix /usr,
# DESTDIR), which must hold every file of the handheld's bundle and the
# host's install note; a second install keeps an edited options file and
# init script, and make uninstall all but the configuration edited. In a
# private world (ps2world: /dev, /etc and /opt are overlays) the staged
# /etc and /opt are laid in place, /dev/kbd is a plain file, and a loadkmap
# stand-in on PATH logs the layouts it is given. /etc/init.d/ps2linkd then
# drives the staged daemon in console mode on a pseudo-terminal that ps2sim
# plays: status, start, a key that arrives, restart onto a second line, and
# a stop after which no daemon is left and the layout restore has already
# run, a start that stops waiting for a FIFO nobody reads yet, a daemon
# with a long file name, and starts that fail under every kind of
# DEVICE_WAIT. Once under the system's sh and once under busybox sh when
# there is one.
set -euo pipefail

if [ "${1:-}" = --inside ]; then
	build=$2 stage=$3 tmp=$4
	read -r -a shell <<< "$5"
	daemon=$stage/usr/sbin/ps2linkd

	fail() {
		echo "FAIL (${shell[*]}): $*" >&2
		exit 1
	}
	# The daemon by any name (a hard link of it below).
	daemon_pids() {
		for dir in /proc/[0-9]*; do
			[ ! "$dir/exe" -ef "$daemon" ] || echo "${dir#/proc/}"
		done
	}
	# Whatever happens, no daemon outlives the test.
	trap 'pids=$(daemon_pids); [ -z "$pids" ] || kill -KILL $pids' EXIT
	wait_until() {
		for _ in $(seq 200); do
			"$@" && return 0
			sleep 0.05
		done
		return 1
	}
	kbd_holds() {
		[ "$(cat /dev/kbd)" = "$1" ]
	}
	# One key's press and release, as the key map names it.
	kbd_holds_a_key() {
		local pair=$'^ ([0-9]+) 1 \n ([0-9]+) 0 $'
		[[ $(cat /dev/kbd) =~ $pair ]] && [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ]
	}
	# A simulated adapter on a new pseudo-terminal (linked as $tmp/$1) that
	# taps one key once the daemon reads the line.
	start_adapter() {
		echo "tap a" > "$tmp/tap"
		"$build/tools/ps2sim" -l "$tmp/$1" -n "$tmp/tap" > "$tmp/$1.log" 2>&1 &
		sim=$!
		wait_until [ -L "$tmp/$1" ] || fail "ps2sim made no line"
		# The daemon is given the link, which ps2sim removes as it ends: a
		# daemon that outlives its line must not find a number that another
		# pseudo-terminal has taken meanwhile.
		sed -i "s|^PS2LINKD_OPTIONS=.*|PS2LINKD_OPTIONS=\"-c -p $tmp/$1\"|" \
			/etc/default/ps2linkd
	}
	# check STATUS PATTERN ACTION: the init script's exit status and output.
	check() {
		local want=$1 pattern=$2 got=0
		shift 2
		out=$("${shell[@]}" /etc/init.d/ps2linkd "$@" 2>&1) || got=$?
		[ $got -eq "$want" ] && grep -Eq "$pattern" <<< "$out" ||
			fail "ps2linkd $* ended with $got, not $want with /$pattern/: $out"
	}

	rm -f /dev/kbd /dev/ts /dev/fb0
	: > /dev/kbd
	echo ps2 > /etc/ps2.kmap
	echo zeta > /etc/zeta.kmap
	mkdir -p "$tmp/bin"
	printf '#!/bin/sh\necho "loadkmap $(cat)" >> %s/layouts\n' "$tmp" > "$tmp/bin/loadkmap"
	chmod +x "$tmp/bin/loadkmap"
	export PATH=$tmp/bin:$PATH
	echo "DAEMON=$daemon" >> /etc/default/ps2linkd

	check 3 '^ps2linkd is not running$' status
	start_adapter line1
	check 0 '^ps2linkd started \(pid [0-9]+\)$' start
	first=$(daemon_pids)
	check 0 "^ps2linkd is running \\(pid $first\\)$" status
	check 0 "^ps2linkd is already running \\(pid $first\\)$" start
	wait $sim || fail "ps2sim: $(cat "$tmp/line1.log")"
	wait_until kbd_holds_a_key || fail "no key event: $(cat /dev/kbd)"
	key_events=$(cat /dev/kbd)

	# Each daemon writes the plain file from its start.
	: > /dev/kbd
	start_adapter line2
	check 0 $'^ps2linkd stopped\nps2linkd started' restart
	second=$(daemon_pids)
	[ -n "$second" ] && [ "$second" != "$first" ] || fail "restart left pids '$second'"
	wait $sim || fail "ps2sim after the restart: $(cat "$tmp/line2.log")"
	wait_until kbd_holds "$key_events" || fail "no key event: $(cat /dev/kbd)"

	check 0 '^ps2linkd stopped$' stop
	[ -z "$(daemon_pids)" ] || fail "a daemon is left after the stop: $(daemon_pids)"
	[ "$(cat "$tmp/layouts")" = $'loadkmap ps2\nloadkmap zeta\nloadkmap ps2\nloadkmap zeta' ] ||
		fail "layouts loaded: $(cat "$tmp/layouts")"
	check 3 '^ps2linkd is not running$' status
	check 0 '^ps2linkd is not running$' stop

	# A FIFO nobody reads yet holds the start up: the script stops waiting,
	# and the daemon finishes its start once the FIFO is read.
	rm /dev/kbd && mkfifo /dev/kbd
	echo DEVICE_WAIT=1 >> /etc/default/ps2linkd
	start_adapter line3
	check 0 '^ps2linkd is still starting: it waits for its devices \(pid [0-9]+\)$' start
	cat /dev/kbd > "$tmp/kbd" &
	wait $sim || fail "ps2sim with a FIFO: $(cat "$tmp/line3.log")"
	wait_until grep -q ' 0 $' "$tmp/kbd" || fail "no key event through the FIFO"
	check 0 '^ps2linkd stopped$' stop

	# A daemon whose file name is longer than the 15 characters the kernel
	# keeps of it as the process name (its start takes over a second).
	rm /dev/kbd && : > /dev/kbd
	sed -i '/^DEVICE_WAIT=/d' /etc/default/ps2linkd
	ln "$daemon" "$tmp/ps2linkd-by-a-long-name"
	echo "DAEMON=$tmp/ps2linkd-by-a-long-name" >> /etc/default/ps2linkd
	start_adapter line4
	check 0 '^ps2linkd started \(pid [0-9]+\)$' start
	check 0 "^ps2linkd is running \\(pid $(daemon_pids)\\)$" status
	wait $sim || fail "ps2sim with a long name: $(cat "$tmp/line4.log")"
	check 0 '^ps2linkd stopped$' stop

	# A start that fails is reported as failed, with the daemon's message,
	# and leaves neither a daemon nor its log behind. A DEVICE_WAIT that is
	# no whole number of seconds from 1 to 3600 is named, and 10 taken.
	rm /etc/ser_code_vantor_console.ini
	mkdir "$tmp/logs"
	for wait in 1 1.5 abc '' -3 0 99999999999999999999 3601; do
		echo "DEVICE_WAIT=$wait" >> /etc/default/ps2linkd
		named="ps2linkd: DEVICE_WAIT in /etc/default/ps2linkd is \"$wait\", not a whole"
		named+=$' number of seconds from 1 to 3600: waiting 10\n'
		[ "$wait" != 1 ] || named=
		TMPDIR=$tmp/logs check 1 'failed to start' start
		[ "$out" = "${named}Key map file is not found"$'\nps2linkd: failed to start (exit status 1)' ] &&
			[ -z "$(daemon_pids)$(ls "$tmp/logs")" ] ||
			fail "DEVICE_WAIT=$wait: $out; left: $(daemon_pids) $(ls "$tmp/logs")"
	done
	check 2 '^Usage: ' reload
	exit 0
fi

[ $# -eq 2 ] || { echo "Usage: $0 BUILD_DIR CMAKE" >&2; exit 2; }
build=$(cd "$1" && pwd)
cmake=$2

why=$("$build/tools/ps2world" --probe 2>&1) || { echo "SKIP: $why"; exit 77; }

dir=$(mktemp -d /tmp/ps2link-init.XXXXXX)
# The build's records of its last install are the developer's (make
# uninstall reads them): they are put back afterwards.
cp "$build"/install_*.txt "$dir/" 2> /dev/null || true
trap 'rm -f "$build"/install_*.txt; cp "$dir"/install_*.txt "$build/" 2> /dev/null || true; rm -rf "$dir"' EXIT
DESTDIR=$dir/stage "$cmake" --install "$build" --prefix /usr > /dev/null
for file in usr/sbin/ps2linkd opt/Brindle/etc/ser_code_vantor.ini \
	etc/ser_code_vantor_console.ini etc/init.d/ps2linkd etc/default/ps2linkd \
	usr/lib/systemd/system/ps2linkd.service usr/share/man/man8/ps2linkd.8 \
	usr/share/man/man5/ps2link-keymap.5 usr/share/doc/ps2link/INSTALL; do
	[ -f "$dir/stage/$file" ] || { echo "FAIL: the install has no /$file" >&2; exit 1; }
done
grep -q '^ps2link .*, installed by make install$' "$dir/stage/usr/share/doc/ps2link/INSTALL" &&
	! grep -q 'static' "$dir/stage/usr/share/doc/ps2link/INSTALL" ||
	{ echo "FAIL: the installed INSTALL is not the host's" >&2; exit 1; }
# A second install keeps an edited options file and init script and lays
# the new one beside; it replaces the unit, ours.
edited=("$dir"/stage/etc/{default,init.d}/ps2linkd "$dir/stage/usr/lib/systemd/system/ps2linkd.service")
# CMake takes an installed file whose time is within a second of the new
# one's for the same and leaves it: the edits are dated well before.
for file in "${edited[@]}"; do echo '# edited' >> "$file" && touch -d @946684800 "$file"; done
DESTDIR=$dir/stage "$cmake" --install "$build" --prefix /usr > /dev/null
[ "$(tail -qn 1 "${edited[@]}")" = $'# edited\n# edited\nWantedBy=multi-user.target' ] &&
	cmp -s "$dir/stage/etc/default/ps2linkd.new" "$(dirname "$0")/../../dist/ps2linkd.default" &&
	[ -x "$dir/stage/etc/init.d/ps2linkd.new" ] && [ ! -e "${edited[2]}.new" ] ||
	{ echo "FAIL: a second install over edited files: $(ls "$dir"/stage/etc/*)" \
		"last lines: $(tail -qn 1 "${edited[@]}")" >&2; exit 1; }
grep -qx 'DAEMON=/usr/sbin/ps2linkd' "$dir/stage/etc/init.d/ps2linkd" ||
	{ echo "FAIL: the init script does not run /usr/sbin/ps2linkd" >&2; exit 1; }

shells=(sh)
command -v busybox > /dev/null && shells+=("busybox sh")
for shell in "${shells[@]}"; do
	run=$dir/${shell// /-}
	mkdir "$run" "$run.world"
	# The staged /etc and /opt go into the world's upper layers from here:
	# inside a user namespace the machine's /etc/init.d belongs to nobody.
	cp -R "$dir/stage/etc" "$dir/stage/opt" "$run.world/"
	"$build/tools/ps2world" "$run.world" -- "$0" --inside "$build" "$dir/stage" "$run" "$shell"
	echo "ok: /etc/init.d/ps2linkd under $shell"
done

# make uninstall takes back what the last install put there, but the
# configuration edited since: the two files the second install kept, and
# the key map edited after it.
echo '# edited' >> "$dir/stage/opt/Brindle/etc/ser_code_vantor.ini"
DESTDIR=$dir/stage "$cmake" --build "$build" --target uninstall > "$dir/uninstall.log"
left=$(cd "$dir/stage" && find . -type f | LC_ALL=C sort)
[ "$left" = $'./etc/default/ps2linkd\n./etc/init.d/ps2linkd\n./opt/Brindle/etc/ser_code_vantor.ini' ] &&
	grep -q "Kept: $dir/stage/opt/Brindle/etc/ser_code_vantor.ini" "$dir/uninstall.log" ||
	{ echo "FAIL: make uninstall left: $left" >&2; cat "$dir/uninstall.log" >&2; exit 1; }
echo "ok: make install and make uninstall"
