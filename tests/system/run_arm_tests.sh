#!/bin/sh
# ARM checks of ps2linkd: the static musl build for the handheld's ARMv5TE
# core, the unit tests run under the user-mode emulator, and a system test
# that boots a real ARM Linux kernel on an emulated board and drives the
# daemon there through its UART, framebuffer and keyboard layout.
#
# Every step needs tools that a plain host build does not: a step whose
# tools or packages are missing says so on a "SKIP" line and is left out.
# Exit status: 0 when every step ran and passed (or was skipped, unless
# --skip-status N asks for N in that case, as CTest does), 1 on a failure.
#
# Usage: tests/system/run_arm_tests.sh [--skip-status N]
set -u

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cache=$source_dir/build/arm-cache   # downloaded packages and the board's files
artifacts=$source_dir/artifacts/arm-system
skip_status=0
if [ "${1:-}" = --skip-status ]; then
	skip_status=$2
fi
skipped=0

skip() {
	echo "SKIP: $*"
	skipped=1
}

fail() {
	echo "FAIL: $*"
	exit 1
}

missing_tools() {
	for tool in "$@"; do
		command -v "$tool" >/dev/null 2>&1 || printf ' %s' "$tool"
	done
}

finish() {
	if [ "$skipped" = 1 ]; then
		exit "$skip_status"
	fi
	exit 0
}

cd "$source_dir" || exit 1

# 1. The daemon and ps2trace for the handheld: static musl, ARMv5TE,
# stripped. The build itself fails if any of the C++ runtime is linked in.
echo "== ARM build for the handheld (cmake preset arm: static musl)"
missing=$(missing_tools cmake ninja arm-linux-gnueabi-g++ qemu-arm)
if [ -n "$missing" ]; then
	skip "ARM build: missing$missing (Debian: g++-arm-linux-gnueabi cmake ninja-build qemu-user)"
	finish
fi
if [ ! -f /usr/lib/arm-linux-musleabi/libc.a ]; then
	skip "ARM build: musl for armel is missing (Debian: musl-dev:armel)"
	finish
fi
cmake --preset arm >/dev/null || fail "configuring the ARM build"
cmake --build --preset arm || fail "building for ARM"
daemon=$source_dir/build/arm/src/ps2linkd
size=$(wc -c < "$daemon")
echo "ps2linkd for ARM: $size bytes; $(file -b "$daemon" 2>/dev/null)"
# The C library's system log client (with its time zone code) and the
# uinput form took it past 100 KB; 128 KB is the bound now.
[ "$size" -le 131072 ] || fail "ps2linkd for ARM is $size bytes, more than 128 KB"
version=$(qemu-arm -cpu pxa270 "$daemon" -v) || fail "ps2linkd -v under qemu-arm"
[ "$version" = "ps2linkd version $(sed -n 's/^project(ps2link VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
	fail "ps2linkd -v under qemu-arm printed '$version'"
echo "$version (qemu-arm -cpu pxa270)"
trace=$source_dir/build/arm/tools/ps2trace
size=$(wc -c < "$trace")
echo "ps2trace for ARM: $size bytes; $(file -b "$trace" 2>/dev/null)"
# Built as the daemon is; its fixed buffers lie in zero-filled memory, not
# in the file (a 1 MB one there made it 1.5 MB once).
[ "$size" -le 204800 ] || fail "ps2trace for ARM is $size bytes, more than 200 KB"
# glibc's start files carry an ABI note naming the oldest kernel they run on
# (3.2), and glibc stops on an older one ("kernel too old"); musl's carry
# none.
for program in "$daemon" "$trace"; do
	! arm-linux-gnueabi-readelf -n "$program" | grep -q 'NT_GNU_ABI_TAG' ||
		fail "$program carries an ABI note (a glibc build?)"
done
# The install bundle of this build as make dist packs it; the board of step 3
# is installed from it. Its last line: "PATH: SIZE bytes".
packed=$(./dist/make_bundle.sh build/arm build | tail -n 1)
bundle=${packed%: * bytes}
[ -f "$bundle" ] || fail "packing the install bundle: '$packed'"
tar -tzf "$bundle" | grep -qx './usr/share/man/man5/ps2link-capture.5' ||
	fail "the install bundle lacks ps2link-capture(5), which its ps2trace(1) refers to"
echo "install bundle $packed"

# 2. The handheld's CPU model under the user-mode emulator: the unit tests
# (built against glibc, which GoogleTest needs) including the table of
# awkward numbers checked against glibc's own scanf, and the same table
# built against musl as the daemon is.
echo "== ARM unit tests (qemu-arm -cpu pxa270)"
cmake --preset arm-tests >/dev/null || fail "configuring the ARM unit tests"
cmake --build --preset arm-tests || fail "building the ARM unit tests"
ctest --preset arm-tests || fail "ARM unit tests"
cmake --build --preset arm --target number_table >/dev/null || fail "building the musl number table"
tests/numbers/check_number_table.sh qemu-arm -cpu pxa270 build/arm/tests/numbers/number_table ||
	fail "the musl number table under qemu-arm"
echo "number table, musl under qemu-arm: as expected"
# The board's reader of the daemon's input devices (-u), built as the daemon is.
cmake --build --preset arm --target event_reader >/dev/null || fail "building the board's event reader"

# 3. The daemon on a real ARM kernel: Debian's armhf armmp kernel on QEMU's
# vexpress-a9 board, with busybox as the board's userland, the install bundle
# unpacked at its root and driven through its init script, and strace (with
# the C library it runs on) to count the daemon's system calls; the
# transcripts replayed there against the static musl daemon.
echo "== ARM system test (qemu-system-arm -M vexpress-a9)"
missing=$(missing_tools qemu-system-arm dtc cpio python3 apt-get apt-cache dpkg-deb)
if [ -n "$missing" ]; then
	skip "ARM system test: missing$missing" \
	     "(Debian: qemu-system-arm device-tree-compiler cpio python3)"
	finish
fi
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
	skip "ARM system test: the armhf architecture is not configured; as root run" \
	     "'dpkg --add-architecture armhf && apt-get update'"
	finish
fi

# The kernel package behind linux-image-armmp, e.g. linux-image-6.1.0-NN-armmp.
kernel_package=$(apt-cache depends linux-image-armmp:armhf 2>/dev/null |
		 sed -n 's/^ *Depends: \(linux-image-[^:]*-armmp\).*/\1/p' | head -n 1)
if [ -z "$kernel_package" ]; then
	skip "ARM system test: apt knows no linux-image-armmp:armhf (run apt-get update)"
	finish
fi
mkdir -p "$cache/debs"
for package in "$kernel_package" busybox-static strace libc6; do
	if ! ls "$cache/debs/${package}_"*_armhf.deb >/dev/null 2>&1; then
		echo "downloading $package:armhf into $cache/debs"
		(cd "$cache/debs" && apt-get download -q "$package:armhf" 2>&1 | grep -v '^W: Download is performed unsandboxed') ||
			true
	fi
	if ! ls "$cache/debs/${package}_"*_armhf.deb >/dev/null 2>&1; then
		skip "ARM system test: could not download $package:armhf"
		finish
	fi
done

# Only a few files are needed: the kernel, the board's device tree, busybox,
# and the kernel's modules for event devices and uinput (for -u).
board=$cache/board-$kernel_package
if [ ! -f "$board/busybox" ] || [ ! -f "$board/modules/uinput.ko" ]; then
	rm -rf "$board" && mkdir -p "$board/unpacked" "$board/modules" || fail "making $board"
	dpkg-deb --fsys-tarfile "$cache/debs/${kernel_package}_"*_armhf.deb |
		tar -x -C "$board/unpacked" --wildcards './boot/vmlinuz-*' '*/vexpress-v2p-ca9.dtb' \
		    '*/kernel/drivers/input/evdev.ko' '*/kernel/drivers/input/misc/uinput.ko' &&
	dpkg-deb --fsys-tarfile "$cache/debs/busybox-static_"*_armhf.deb |
		tar -x -C "$board/unpacked" ./bin/busybox || fail "unpacking the packages"
	mv "$board"/unpacked/boot/vmlinuz-* "$board/vmlinuz" &&
	find "$board/unpacked" -name vexpress-v2p-ca9.dtb -exec mv {} "$board/stock.dtb" \; &&
	mv "$board/unpacked/bin/busybox" "$board/busybox" &&
	find "$board/unpacked" -name '*.ko' -exec mv {} "$board/modules" \; &&
	rm -rf "$board/unpacked" || fail "unpacking the board's files"
fi

# strace and what it runs on (readelf -d: libc.so.6 and the loader), at
# their own paths: a tree that the board's root file system is laid over.
if [ ! -f "$board/strace/usr/bin/strace" ]; then
	rm -rf "$board/strace" && mkdir -p "$board/strace" || fail "making $board/strace"
	dpkg-deb --fsys-tarfile "$cache/debs/strace_"*_armhf.deb |
		tar -x -C "$board/strace" ./usr/bin/strace &&
	dpkg-deb --fsys-tarfile "$cache/debs/libc6_"*_armhf.deb |
		tar -x -C "$board/strace" ./lib/ld-linux-armhf.so.3 \
		    ./lib/arm-linux-gnueabihf/ld-linux-armhf.so.3 ./lib/arm-linux-gnueabihf/libc.so.6 ||
		{ rm -rf "$board/strace"; fail "unpacking strace and the C library"; }
fi

# The stock tree drives the display controller through a DVI bridge; the
# board's panel is added to it here (see board/panel.dtsi).
dtc -q -I dtb -O dts -o "$board/board.dts" "$board/stock.dtb" &&
cat "$source_dir/tests/system/board/panel.dtsi" >> "$board/board.dts" &&
dtc -q -I dts -O dtb -o "$board/board.dtb" "$board/board.dts" ||
	fail "building the board's device tree"

# The transcripts for their replay on the board, and the input of the
# board's own steps, read by the transcript runner of the ARM unit tests
# (under the user-mode emulator, as they are).
rm -rf "$artifacts" && mkdir -p "$artifacts" || fail "making $artifacts"
plan=$artifacts/transcripts.plan
qemu-arm -cpu pxa270 build/arm-tests/tests/transcript/run_transcript --plan "$source_dir" \
	tests/transcripts/*.t tests/system/board/board.steps > "$plan" ||
	fail "the transcripts' plan for the board"
python3 "$source_dir/tests/system/arm_board_test.py" --kernel "$board/vmlinuz" \
	--dtb "$board/board.dtb" --busybox "$board/busybox" --strace-tree "$board/strace" \
	--bundle "$bundle" --plan "$plan" --modules "$board/modules" \
	--event-reader build/arm/tests/system/event_reader \
	--out "$artifacts" || fail "ARM system test (see $artifacts)"

# 4. The Debian package's hardened unit on the same board, Debian's armhf
# systemd as its init (tests/system/systemd_board_test.py).
echo "== ARM system test under systemd (ps2linkd@dev-ttyAMA1.service)"
missing=$(missing_tools depmod dpkg-buildpackage lintian)
if [ -n "$missing" ]; then
	skip "ARM systemd test: missing$missing (Debian: kmod debhelper lintian)"
	finish
fi
make --no-print-directory deb > "$artifacts/make-deb.log" 2>&1 || fail "make deb (see $artifacts/make-deb.log)"
python3 "$source_dir/tests/system/systemd_board_test.py" --kernel "$board/vmlinuz" \
	--kernel-release "${kernel_package#linux-image-}" --dtb "$board/board.dtb" \
	--modules "$board/modules" --busybox "$board/busybox" --daemon "$daemon" \
	--event-reader build/arm/tests/system/event_reader \
	--deb "build/deb/ps2link_$(dpkg-parsechangelog -S Version)_$(dpkg --print-architecture).deb" \
	--plan "$plan" --debs "$cache/debs" --out "$artifacts-systemd" ||
	fail "ARM systemd test (see $artifacts-systemd)"
finish
