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

# make fuzz: the libFuzzer harnesses, built with clang and the sanitizers in $(FUZZ_BUILD), each
# run for FUZZ_SECONDS on its corpus (scripts/fuzz.sh).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: deps configure build test package demo screenshot bench-engine fuzz bench-mount clean

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
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

test: build
	./scripts/check_layers.sh
	ctest --test-dir $(BUILD) --output-on-failure -j2

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

clean:
	rm -rf $(BUILD) build-asan build-tsan $(FUZZ_BUILD)
