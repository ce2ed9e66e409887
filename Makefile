# Quick start on a fresh Debian machine:  make demo   and   make test
BUILD ?= build
BUILD_TYPE ?= Release
GUI ?= ON
GENERATOR ?= Ninja

# Debian packages the build, the tests, the benchmarks and the Debian packages need.
PACKAGES = cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev \
           libcli11-dev nlohmann-json3-dev qt6-base-dev qt6-multimedia-dev sox dosfstools mtools \
           fuse3 libfuse3-dev fusefat xvfb xauth git man-db appstream dpkg-dev file lintian \
           pkg-config libsndfile1-dev libsoxr-dev flac ffmpeg sndfile-programs

# The Windows build (make windows): the cross compiler, Wine to run what it builds, and the
# GoogleTest sources it builds its tests from. Only make windows and make test-windows need them.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix wine64 googletest
WINDOWS_BUILD ?= build-windows

# make fuzz: the libFuzzer harnesses, built with clang and the sanitizers in $(FUZZ_BUILD), each
# run for FUZZ_SECONDS on its corpus (scripts/fuzz.sh).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: deps deps-windows configure build test package demo screenshot bench-engine fuzz \
        bench-mount windows test-windows clean

deps deps-windows: LIST = $(PACKAGES)
deps-windows: LIST = $(WINDOWS_PACKAGES)
deps deps-windows:
	@missing=""; \
	for p in $(LIST); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing Debian packages. Install them with:"; \
	    echo "  sudo apt-get install$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKORVOWAV_GUI=$(GUI)

build: configure
	cmake --build $(BUILD)

# The comparison with the Windows build (WindowsBuild*) runs in make test-windows, against a
# fresh build of it.
test: build
	./scripts/check_layers.sh
	ctest --test-dir $(BUILD) --output-on-failure -j2 -E WindowsBuild

# Debian packages korvowav-cli and korvowav in $(BUILD)/: apt-get install ./$(BUILD)/*.deb
# (Packages of an earlier version are removed first, so that the wildcard finds one of each.)
package: build
	rm -f $(BUILD)/*.deb
	cmake --build $(BUILD) --target package

demo: build
	BUILD=$(BUILD) ./scripts/demo.sh

# Sequential read of a mounted 20-minute track against its export, median of 5 (needs
# /dev/fuse; make bench-engine reports it too).
bench-mount: configure
	cmake --build $(BUILD) --target korvowav-cli
	./scripts/bench_mount.sh $(BUILD)

screenshot: build
	BUILD=$(BUILD) ./scripts/screenshot.sh

# Export and import beside the file copying they cannot avoid, the codec's per-core speed and
# the engine's peak memory (scripts/measure_engine.sh; the material is made once in $(BUILD)).
bench-engine: configure
	cmake --build $(BUILD) --target korvowav-cli bench_codec
	./scripts/measure_engine.sh $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DCMAKE_CXX_COMPILER=clang++ -DKORVOWAV_FUZZ=ON -DKORVOWAV_GUI=OFF -DKORVOWAV_BENCH=OFF
	cmake --build $(FUZZ_BUILD) --target fuzz_all
	BUILD=$(FUZZ_BUILD) FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh

# korvowav-cli.exe and the core's tests as .exe, cross-built with MinGW-w64 into
# $(WINDOWS_BUILD)/bin/ (static: nothing to ship beside them).
windows: deps-windows
	cmake -S . -B $(WINDOWS_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKORVOWAV_GUI=OFF -DKORVOWAV_BENCH=OFF
	cmake --build $(WINDOWS_BUILD) --target korvowav-cli codec_tests wavefile_tests disk_tests \
	      volume_tests convert_tests windows_tests

# The core's tests under Wine, then this build's program against the Windows one on the same
# inputs (needs the Linux program and the comparison test from $(BUILD)).
test-windows: windows configure
	cmake --build $(BUILD) --target korvowav-cli crossbuild_tests
	./scripts/test_windows.sh $(WINDOWS_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-tsan $(FUZZ_BUILD) $(WINDOWS_BUILD)
