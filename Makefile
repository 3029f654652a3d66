# Thin wrapper over the CMake presets; the real build lives in CMakeLists.txt.
# Every target first makes sure the Debian packages it needs are there
# (tools/deps/packages.txt lists them; `make deps` does only that).
.PHONY: all build test demo install bench clean deps

DEPS = ./tools/deps/deps.sh

all: build

deps:
	$(DEPS) build e2e arm bench

build:
	$(DEPS) build
	cmake --preset default >/dev/null
	cmake --build --preset default

# Plain, then under ASan and UBSan; then one line on what was skipped, if
# anything, and why.
test:
	$(DEPS) build e2e arm
	$(MAKE) --no-print-directory build
	rm -f build/default/junit.xml build/sanitize/junit.xml
	ctest --preset default -j4 --output-junit junit.xml || \
		{ ./tests/summarize_skips.py build/default/junit.xml; exit 1; }
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	ctest --preset sanitize -j4 --output-junit junit.xml || \
		{ ./tests/summarize_skips.py build/default/junit.xml build/sanitize/junit.xml; exit 1; }
	./tests/summarize_skips.py build/default/junit.xml build/sanitize/junit.xml

demo:
	$(DEPS) build e2e
	$(MAKE) --no-print-directory build
	./tools/demo/demo.sh build/default

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

# The static, stripped daemon for the handheld: build/arm/src/ps2linkd.
.PHONY: arm test-arm
arm:
	$(DEPS) arm
	cmake --preset arm >/dev/null
	cmake --build --preset arm

# Cross build, unit tests under qemu-arm, system test on an emulated board.
test-arm:
	$(DEPS) arm
	./tests/system/run_arm_tests.sh

install: build
	cmake --install build/default

clean:
	rm -rf build
