#!/bin/sh
# check_deb.sh SOURCE_DIR: make deb gives packages that lintian passes
# clean (the target fails otherwise), and the package's unit, on two
# instance names (a plain port and a by-id link), has an exposure of at
# most 1.5 by systemd-analyze security and passes systemd-analyze verify
# with the packaged daemon at its ExecStart path: an overlay over /usr/sbin
# in a private mount namespace, nothing installed on this machine. verify
# runs man on Documentation=: MANPATH gives it the packaged pages.
set -u
src=$1
limit=1.5
if ! "$src/tools/deps/deps.sh" deb >/dev/null; then
	echo "check_deb.sh: SKIPPED: the packages make deb needs are missing (tools/deps/packages.txt, part deb)" >&2
	exit 77
fi
make -C "$src" --no-print-directory deb || exit 1

stage=$src/build/deb/stage
rm -rf "$stage"
dpkg-deb -x "$src/build/deb/ps2link_$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)_$(dpkg --print-architecture).deb" "$stage" || exit 1
units=$stage/lib/systemd/system
set -- "$(systemd-escape --template=ps2linkd@.service --path /dev/ttyUSB0)" \
	"$(systemd-escape --template=ps2linkd@.service \
		--path /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0)"
status=0
for unit in "$@"; do
	exposure=$(SYSTEMD_UNIT_PATH=$units: systemd-analyze security --offline=true "$unit" 2>&1 |
		sed -n 's/^.*Overall exposure level for .*: \([0-9.]*\) .*$/\1/p')
	echo "$unit: exposure $exposure"
	if [ -z "$exposure" ] || ! awk -v e="$exposure" -v l="$limit" 'BEGIN { exit !(e <= l) }'; then
		echo "check_deb.sh: $unit: exposure '$exposure' above $limit" >&2
		status=1
	fi
done

namespace="unshare -m"
[ "$(id -u)" -eq 0 ] || namespace="unshare -Urm"
if ! $namespace --propagation private true 2>/dev/null; then
	echo "check_deb.sh: SKIPPED: systemd-analyze verify: '$namespace' refused here (no user namespaces?)" >&2
	exit $((status ? status : 77))
fi
# shellcheck disable=SC2016 # expanded by the inner shell
if ! $namespace --propagation private sh -c '
	stage=$1 && shift &&
	mount -t overlay ps2link -o "lowerdir=$stage/usr/sbin:/usr/sbin" /usr/sbin &&
	said=$(SYSTEMD_UNIT_PATH=$stage/lib/systemd/system: MANPATH=$stage/usr/share/man \
		systemd-analyze verify "$@" 2>&1) && [ -z "$said" ] || { echo "$said"; false; }' \
	sh "$stage" "$@"; then
	echo "check_deb.sh: systemd-analyze verify is not clean" >&2
	status=1
fi
exit $status
