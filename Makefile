# fmscope: `make run` builds and starts the program, `make test` builds and runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all run test test-sanitizers bench build deps test-deps clean fuzz measure screenshot

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

# Every test again, built with ThreadSanitizer and with AddressSanitizer +
# UndefinedBehaviorSanitizer; any report fails the run (the end-to-end tests
# run the sanitized program, so a report there ends it and fails the test).
SUPP = $(CURDIR)/tests/sanitizers
SANITIZER_ENV = TSAN_OPTIONS="suppressions=$(SUPP)/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	LSAN_OPTIONS="suppressions=$(SUPP)/lsan.supp print_suppressions=0" \
	ASAN_OPTIONS="detect_leaks=1 abort_on_error=0" \
	UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
test-sanitizers: test-deps
	@for s in thread address; do \
		[ -f $(BUILD)-$$s/CMakeCache.txt ] || cmake -S . -B $(BUILD)-$$s -DFMSCOPE_SANITIZE=$$s >/dev/null || exit 1; \
		cmake --build $(BUILD)-$$s -j $(JOBS) || exit 1; \
	done
	$(SANITIZER_ENV) scripts/test-services sh -c '\
		ctest --test-dir $(BUILD)-thread --output-on-failure -j $(JOBS); t=$$?; \
		ctest --test-dir $(BUILD)-address --output-on-failure -j $(JOBS); a=$$?; \
		[ $$t -eq 0 ] && [ $$a -eq 0 ]'

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
	FMSCOPE_BINARY=$(BUILD)/fmscope scripts/test-services scripts/measure

# The README's picture of the window, taken under Xvfb.
screenshot: test-deps build
	FMSCOPE_BINARY=$(BUILD)/fmscope scripts/test-services scripts/screenshot docs/window.png
