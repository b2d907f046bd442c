# fmscope: `make run` builds and starts the program, `make test` builds and runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all run test bench build deps test-deps clean fuzz measure screenshot

all: build

deps:
	@scripts/install-deps build

test-deps:
	@scripts/install-deps test

$(BUILD)/CMakeCache.txt:
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/fmscope

test: test-deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS)
	scripts/test-services ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	scripts/test-services ./$(BUILD)/bench/fmscope_bench

clean:
	rm -rf $(BUILD)

# Short libFuzzer run of the terminal key decoder (clang).
FUZZ_SECONDS ?= 20
fuzz: test-deps
	scripts/fuzz-keys $(FUZZ_SECONDS)

# Figures of the whole program (CPU, latency, memory, underruns).
measure: test-deps build
	scripts/test-services scripts/measure

# The README's picture of the window, taken under Xvfb.
screenshot: test-deps build
	FMSCOPE_BINARY=$(BUILD)/fmscope scripts/test-services scripts/screenshot docs/window.png
