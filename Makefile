# Thin wrapper over the CMake presets; the real build lives in CMakeLists.txt.
.PHONY: all build test demo install bench clean

all: build

build:
	cmake --preset default >/dev/null
	cmake --build --preset default

test: build
	ctest --preset default -j4
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	ctest --preset sanitize -j4

demo: build
	./tools/demo/demo.sh build/default

bench:
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	./build/bench/bench/ps2_bench

# The static, stripped daemon for the handheld: build/arm/src/ps2linkd.
.PHONY: arm test-arm
arm:
	cmake --preset arm >/dev/null
	cmake --build --preset arm

# Cross build, unit tests under qemu-arm, system test on an emulated board.
test-arm:
	./tests/system/run_arm_tests.sh

install: build
	cmake --install build/default

clean:
	rm -rf build
