#!/bin/sh
# deps.sh PART...: make sure the Debian packages that these parts of ps2link
# need (tools/deps/packages.txt) are installed.
#
# What is missing is installed with apt-get when running as root, through
# "sudo -n" where that works without a password; otherwise the script stops
# with one line giving the exact command to run. A foreign architecture that
# a part downloads packages of ("arch:armhf") is enabled the same way.
# Exit status: 0 when everything is there (or was installed), 1 otherwise.
set -eu

list=$(dirname "$0")/packages.txt
if [ $# -eq 0 ]; then
	set -- build e2e arm bench
fi

wanted_packages=
wanted_arches=
for part in "$@"; do
	if ! grep -q "^$part[[:space:]]" "$list"; then
		echo "deps.sh: no part '$part' in $list" >&2
		exit 2
	fi
	for word in $(sed -n "s/^$part[[:space:]]\+//p" "$list"); do
		case $word in
		arch:*) wanted_arches="$wanted_arches ${word#arch:}" ;;
		*) wanted_packages="$wanted_packages $word" ;;
		esac
	done
done

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
	echo "ps2link needs these Debian packages (or your system's equivalents):$wanted_packages" >&2
	exit 1
fi

missing=
for package in $wanted_packages; do
	case " $missing " in *" $package "*) continue ;; esac
	status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
	[ "$status" = installed ] || missing="$missing $package"
done
missing_arches=
for arch in $wanted_arches; do
	[ "$(dpkg --print-architecture)" = "$arch" ] && continue
	dpkg --print-foreign-architectures | grep -qx "$arch" || missing_arches="$missing_arches $arch"
done

[ -z "$missing$missing_arches" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
	as_root=
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
	as_root="sudo -n"
else
	command=
	for arch in $missing_arches; do
		command="${command}dpkg --add-architecture $arch && "
	done
	[ -n "$missing_arches" ] && command="${command}apt-get update && "
	echo "ps2link: missing packages; as root run: ${command}apt-get install -y$missing" >&2
	exit 1
fi

echo "deps.sh: installing:$missing${missing_arches:+ (and the architectures$missing_arches)}"
for arch in $missing_arches; do
	$as_root dpkg --add-architecture "$arch"
done
export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update -qq
if [ -n "$missing" ]; then
	# shellcheck disable=SC2086 # one word per package
	$as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
