#!/bin/sh
# check_deb.sh SOURCE_DIR: make deb (lintian clean, or the target fails);
# then the package's unit on two instance names: exposure at most 1.5 by
# systemd-analyze security, and verify clean with the packaged daemon and
# pages (MANPATH, for Documentation=) overlaid in a private mount namespace.
set -u
src=$1
limit=1.5
make -C "$src" --no-print-directory deb || exit 1
stage=$src/build/deb/stage # make deb began with an empty build/deb
dpkg-deb -x "$src/build/deb/ps2link_$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)_$(dpkg --print-architecture).deb" "$stage" || exit 1
set -- "$(systemd-escape --template=ps2linkd@.service --path /dev/ttyUSB0)" "$(systemd-escape \
	--template=ps2linkd@.service --path /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0)"
status=0
for unit in "$@"; do
	exposure=$(SYSTEMD_UNIT_PATH=$stage/lib/systemd/system: systemd-analyze security --offline=true "$unit" 2>&1 |
		sed -n 's/^.*Overall exposure level for .*: \([0-9.]*\) .*$/\1/p')
	echo "$unit: exposure $exposure"
	if [ -z "$exposure" ] || ! awk -v e="$exposure" -v l="$limit" 'BEGIN { exit !(e <= l) }'; then
		echo "check_deb.sh: $unit: exposure '$exposure' above $limit" >&2
		status=1
	fi
done

namespace="unshare -m" && [ "$(id -u)" -eq 0 ] || namespace="unshare -Urm"
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
