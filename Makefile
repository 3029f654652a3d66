# Thin wrapper over the CMake presets; the real build lives in CMakeLists.txt.
.PHONY: all build test demo install bench clean

all: build

build:
	cmake --preset default >/dev/null
	cmake --build --preset default

test: build
	ctest --preset default
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize
	ctest --preset sanitize

demo: build
	./tools/demo.sh build/default

bench:
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	./build/bench/bench/ps2_bench

install: build
	cmake --install build/default

clean:
	rm -rf build
