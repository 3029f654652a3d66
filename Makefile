# Thin wrapper over the CMake presets; the real build lives in CMakeLists.txt.
.PHONY: all build test test-unit test-sanitize demo install clean

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

install: build
	cmake --install build/default

clean:
	rm -rf build
