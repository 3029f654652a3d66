#!/bin/bash
# make_bundle.sh ARM_BUILD_DIR OUT_DIR: packs what the ARM build installs
# under the prefix /usr into OUT_DIR/ps2link-VERSION-armv5te.tar.gz, a tree
# to unpack at the root of the handheld (make dist), with ps2trace.
#
# ps2trace goes along, with its page and the capture format's, because the
# adapter sits on the handheld's port, so a trace runs there. The same
# build makes it as it makes the daemon (static musl, no C++ runtime), so
# the whole bundle asks Linux 2.6.16 of the kernel.
#
# The archive holds files only, so unpacking it leaves the modes of
# existing directories (/etc, /usr) alone. It is the same for the same
# build: files in name order, owned by root, dated by the last commit,
# gzip without a time stamp; ustar, which any busybox tar reads.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -f "$1/CMakeCache.txt" ]; then
	echo "Usage: $0 ARM_BUILD_DIR OUT_DIR   (make dist: build/arm build)" >&2
	exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
bundle=$out/ps2link-$version-armv5te.tar.gz
stage=$build/bundle
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr > /dev/null

# A host build installed by mistake would unpack without a complaint.
for program in "$stage/usr/sbin/ps2linkd" "$stage/usr/bin/ps2trace"; do
	if command -v file > /dev/null && ! file -b "$program" | grep -q 'ARM.*statically linked'; then
		echo "make_bundle.sh: $program is not a static ARM program: $(file -b "$program")" >&2
		exit 1
	fi
done

mtime=$(git -C "$repo" log -1 --format=%ct 2> /dev/null || date +%s)
(cd "$stage" && find . -type f | LC_ALL=C sort) |
	tar -C "$stage" --format=ustar --owner=0 --group=0 --numeric-owner --mode=go-w \
		--mtime=@"$mtime" --no-recursion -T - -cf - |
	gzip -9n > "$bundle"

tar -tvzf "$bundle"
echo "$bundle: $(stat -c %s "$bundle") bytes"
