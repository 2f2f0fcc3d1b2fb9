# Set-up, build, tests and demo of the Orlessa speech back end. See README.md.
SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu)

BUILD      := build
BUILD_ASAN := build-asan
BUILD_TSAN := build-tsan
BUILD_DIST := build-dist

.PHONY: all deps build build-asan build-tsan test demo bench fuzz model dist clean

all: build

deps:
	@bash scripts/install-deps.sh

# Extra options for every tree, e.g. CMAKE_ARGS=-DORLESSA_WHISPER_METAL=OFF on a Mac
# whose GPU cannot be trusted.
CMAKE_ARGS ?=

# Configure once; later runs only rebuild what changed.
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORLESSA_SANITIZE=address,undefined $(CMAKE_ARGS)
# ThreadSanitizer is for the threads of selvane; tovrin has one thread.
$(BUILD_TSAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORLESSA_SANITIZE=thread -DORLESSA_OFFLINE=OFF $(CMAKE_ARGS)

$(BUILD_DIST)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIST) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j$(JOBS)
build-asan: $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j$(JOBS)
build-tsan: $(BUILD_TSAN)/build.ninja
	cmake --build $(BUILD_TSAN) -j$(JOBS)

test: build build-asan build-tsan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j$(JOBS)
	cd $(BUILD_TSAN) && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)/bin

bench: build
	@bash bench/offline.sh $(BUILD)
	@bash bench/streaming.sh $(BUILD)

# Fuzzes tovrin's model load for FUZZ_SECONDS (clang, libFuzzer; tree build-fuzz/).
FUZZ_SECONDS ?= 300
fuzz: | deps
	@bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The release archive dist/orlessa-speech-VERSION-OS-ARCH.tar.gz with its .sha256,
# packed by CPack from a Release build and checked by unpacking it elsewhere and
# running both programs from there.
dist: $(BUILD_DIST)/build.ninja
	cmake --build $(BUILD_DIST) -j$(JOBS) --target tovrin selvane make-test-model
	rm -rf $(BUILD_DIST)/package
	cd $(BUILD_DIST) && cpack
	mkdir -p dist
	cp $(BUILD_DIST)/package/*.tar.gz $(BUILD_DIST)/package/*.tar.gz.sha256 dist/
	bash scripts/check-archive.sh dist/$$(basename $(BUILD_DIST)/package/*.tar.gz) $(BUILD_DIST)/tests/offline/make-test-model

# Downloads the standard tiny English model into models/ (network needed).
model:
	@bash scripts/fetch-model.sh

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_DIST) build-fuzz
