# Thin wrapper over the CMake presets; the real build lives in CMakeLists.txt.
# Every target first makes sure the Debian packages it needs are there
# (tools/deps/packages.txt lists them; `make deps` does only that).
.PHONY: all build test demo install dist deb bench clean deps

DEPS = ./tools/deps/deps.sh

all: build

deps:
	$(DEPS) build e2e arm bench deb

build:
	$(DEPS) build
	cmake --preset default >/dev/null
	cmake --build --preset default

# Plain, then under ASan and UBSan, then a few seconds of each fuzz target;
# then one line on what was skipped, if anything, and why.
test:
	$(DEPS) build e2e arm fuzz deb
	$(MAKE) --no-print-directory build
	rm -f build/default/junit.xml build/sanitize/junit.xml build/fuzz/junit.xml
	ctest --preset default -j4 --output-junit junit.xml || \
		{ ./tests/summarize_skips.py build/default/junit.xml; exit 1; }
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	ctest --preset sanitize -j4 --output-junit junit.xml || \
		{ ./tests/summarize_skips.py build/default/junit.xml build/sanitize/junit.xml; exit 1; }
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	ctest --preset fuzz -j2 --output-junit junit.xml || \
		{ ./tests/summarize_skips.py build/default/junit.xml build/sanitize/junit.xml \
			build/fuzz/junit.xml; exit 1; }
	./tests/summarize_skips.py build/default/junit.xml build/sanitize/junit.xml build/fuzz/junit.xml

# make demo MAP=FILE SCRIPT=FILE: the demo with your own key map and
# simulator script (default: etc/ser_code_vantor.ini, tools/demo/demo.script).
demo:
	$(DEPS) build e2e
	$(MAKE) --no-print-directory build
	./tools/demo/demo.sh $(if $(MAP),-m "$(MAP)") $(if $(SCRIPT),-s "$(SCRIPT)") build/default

# Rewrites the expected output of tests/transcripts/*.t from an in-process
# run; read the diff before committing.
.PHONY: update-transcripts
update-transcripts:
	$(MAKE) --no-print-directory build
	cmake --build --preset default --target update-transcripts

bench:
	$(DEPS) build bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	./build/bench/bench/ps2_bench

# The fuzz targets (tests/fuzz), FUZZ_SECONDS each: executions and findings
# per target.
.PHONY: fuzz soak
FUZZ_SECONDS = 300
fuzz:
	$(DEPS) build fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	./tests/fuzz/run_fuzz.sh build/fuzz $(FUZZ_SECONDS)

# The real daemon on ten million random bytes with marker frames between
# them (tests/soak): every marker arrives, memory stays flat, no crash.
soak:
	$(DEPS) build e2e
	$(MAKE) --no-print-directory build
	./build/default/tests/soak/ps2_soak

# The static, stripped daemon and ps2trace for the handheld:
# build/arm/src/ps2linkd and build/arm/tools/ps2trace.
.PHONY: arm test-arm
arm:
	$(DEPS) arm
	cmake --preset arm >/dev/null
	cmake --build --preset arm

# Cross build, unit tests under qemu-arm, system test on an emulated board.
test-arm:
	$(DEPS) arm
	./tests/system/run_arm_tests.sh

# The install bundle for the handheld, build/ps2link-VERSION-armv5te.tar.gz:
# what the ARM build installs under /usr, to unpack at the handheld's root.
dist:
	$(DEPS) arm
	$(MAKE) --no-print-directory arm
	./dist/make_bundle.sh build/arm build

# The Debian packages for this machine's architecture, build/deb/*.deb:
# dpkg-buildpackage writes beside its source tree, so it builds a copy of
# the tracked files (no build output of the work tree) in build/deb/; then
# lintian must find nothing to warn about.
deb:
	$(DEPS) build deb
	rm -rf build/deb
	mkdir -p build/deb/ps2link
	git ls-files -z | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C build/deb/ps2link
	cd build/deb/ps2link && dpkg-buildpackage -us -uc -b -Jauto
	lintian --fail-on error,warning build/deb/*.deb

# make install [DESTDIR=DIR] [PREFIX=DIR]: the bundle's tree, built for the
# host (and the host tools); the key maps and start-up files keep their
# absolute /etc and /opt paths under DESTDIR.
PREFIX = /usr
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/default --prefix "$(PREFIX)"

# make uninstall [DESTDIR=DIR]: removes what the last make install put in
# place (give its DESTDIR), but a configuration file edited since.
.PHONY: uninstall
uninstall:
	DESTDIR="$(DESTDIR)" cmake --build build/default --target uninstall

clean:
	rm -rf build
