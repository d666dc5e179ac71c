# Quillon's top-level commands. Each target installs what it needs on a fresh Debian 12 machine.
#   make        build everything: the native tools and tests, then both Windows flavours (x86, x64)
#   make test   build everything and run every test this host can run (tools/host-kind.sh decides)
#   make fuzz   run each fuzz target FUZZ_SECONDS long (default 600) with clang's libFuzzer,
#               then report the line coverage its corpus reaches
#   make soak   the canary property test over SEEDS seeds (default 200)
#   make install  PREFIX/bin/quillon-pack and both stubs in PREFIX/share/quillon (PREFIX=/usr/local)
#   make demo   pack an example installation, "install" it into a Wine prefix, uninstall it quietly
#   make bench  build everything and run the benchmark (writes docs/benchmarks.md)
#   make screenshots  take the README's screenshots of the real stub under a virtual display
#   make icon   regenerate res/quillon.ico from res/icon/quillon.svg (imagemagick)
#
# Hosts that cannot run 32-bit Linux programs cannot start 32-bit Windows programs under Wine.
# There the x64 flavour carries the demo, the benchmark and the whole suite, and the x86 stub gets
# a bounded smoke check through qemu. QUILLON_NO_I386=1 chooses that mode on any host.

BUILD ?= build
NATIVE := $(BUILD)/native
WIN32 := $(BUILD)/win32
WIN64 := $(BUILD)/win64
JOBS ?= $(shell nproc)
# Extra CMake settings for every build, e.g. CMAKE_ARGS=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
CMAKE_ARGS ?=
# The flavour that runs the demo, the benchmark and the screenshots: x86 where i386 runs.
RUN_BUILD = $(if $(filter x86,$(shell tools/host-kind.sh --flavour)),$(WIN32),$(WIN64))

.PHONY: all deps native win32 win64 test install fuzz soak demo bench screenshots icon clean

all: win32 win64

deps:
	@tools/install-deps.sh

native: deps
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)
	cmake --build $(NATIVE) -j $(JOBS)

win32: native
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQUILLON_NATIVE_BUILD=$(abspath $(NATIVE))
	cmake --build $(WIN32) -j $(JOBS)

win64: native
	cmake -S . -B $(WIN64) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DQUILLON_NATIVE_BUILD=$(abspath $(NATIVE))
	cmake --build $(WIN64) -j $(JOBS)

test: all
	tests/harness/run-all.sh $(NATIVE) $(WIN32) $(WIN64)

# The native packer finds the stubs installed beside it in ../share/quillon without --stub.
PREFIX ?= /usr/local
install: all
	cmake --install $(NATIVE) --prefix $(PREFIX)
	cmake --install $(WIN32) --prefix $(PREFIX)
	cmake --install $(WIN64) --prefix $(PREFIX)

# The fuzz targets build with clang in $(BUILD)/fuzz; tests/fuzz/run-fuzz.sh says so where clang is missing.
FUZZ_SECONDS ?= 600
fuzz: deps
	CMAKE_ARGS='$(CMAKE_ARGS)' JOBS=$(JOBS) tests/fuzz/run-fuzz.sh long $(BUILD)/fuzz $(FUZZ_SECONDS); \
	    status=$$?; [ $$status = 77 ] || exit $$status

SEEDS ?= 200
soak: all
	tests/e2e/canary-soak.sh $(RUN_BUILD) $(SEEDS)

bench: all
	bench/run-bench.sh --win32 $(abspath $(RUN_BUILD)) --doc docs/benchmarks.md

demo: all
	examples/demo/run-demo.sh $(abspath $(NATIVE)) $(abspath $(RUN_BUILD))

screenshots: all
	tools/screenshots.sh $(abspath $(NATIVE)) $(abspath $(RUN_BUILD)) docs/screenshots

icon:
	res/icon/make-icon.py res/quillon.ico

clean:
	rm -rf $(BUILD)
