# Quillon's top-level commands. Each target installs what it needs on a fresh Debian 12 machine.
#   make        build everything: the native tools and tests, then the Windows stub, packer and tests
#   make test   build everything and run every test (native, in-process under Wine, end to end)
#   make demo   pack an example installation, "install" it into a Wine prefix, uninstall it quietly
#   make bench  build everything and run the benchmark (writes docs/benchmarks.md)
#   make icon   regenerate res/quillon.ico from res/icon/quillon.svg (imagemagick)

BUILD ?= build
NATIVE := $(BUILD)/native
WIN32 := $(BUILD)/win32
JOBS ?= $(shell nproc)

.PHONY: all deps native win32 test demo bench icon clean

all: win32

deps:
	@tools/install-deps.sh

native: deps
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(NATIVE) -j $(JOBS)

win32: native
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQUILLON_NATIVE_BUILD=$(abspath $(NATIVE))
	cmake --build $(WIN32) -j $(JOBS)

test: win32
	tests/harness/run-tests.sh $(WIN32) -j 2

bench: win32
	bench/run-bench.sh --win32 $(abspath $(WIN32)) --doc docs/benchmarks.md

demo: win32
	examples/demo/run-demo.sh $(abspath $(NATIVE)) $(abspath $(WIN32))

icon:
	res/icon/make-icon.py res/quillon.ico

clean:
	rm -rf $(BUILD)
