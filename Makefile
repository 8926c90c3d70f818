# Orvanta: `make run` and `make test` do all set-up on a fresh Debian 12 machine.
JOBS ?= 2
BUILD_DIR := build
ASAN_DIR := build-asan
TSAN_DIR := build-tsan
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 600
DEMO_SONG := $(BUILD_DIR)/demo/orvanta-demo.wav
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test sanitize tsan fuzz bench install clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $$(( 2 * $(JOBS) ))

sanitize: setup
	@cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_SANITIZE=ON -DORVANTA_BUILD_BENCH=OFF > /dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@# The >4 GiB output (label "long") runs in the plain suite only: under the sanitizers it takes many minutes.
	@cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $$(( 2 * $(JOBS) )) -LE long

# The suite under ThreadSanitizer. Reports from inside Qt, FFmpeg and FFTW, which are built without
# it, are suppressed in scripts/tsan.supp, each with its reason; ignore_noninstrumented_modules drops
# what their own calls of malloc, free and memcpy would report (Qt's painting threads hand buffers
# over under Qt's locks, which ThreadSanitizer cannot see).
TSAN_RUN_OPTIONS := suppressions=$(CURDIR)/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1 \
	ignore_noninstrumented_modules=1
tsan: setup
	@cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_TSAN=ON -DORVANTA_BUILD_BENCH=OFF $(CMAKE_FLAGS) > /dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS)
	@# As under make sanitize, the >4 GiB output (label "long") runs in the plain suite only.
	@cd $(TSAN_DIR) && TSAN_OPTIONS="$(TSAN_RUN_OPTIONS)" \
		ctest --output-on-failure -j $$(( 2 * $(JOBS) )) -LE long

# The readers' fuzzer (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) for
# FUZZ_SECONDS seconds.
fuzz: setup
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DORVANTA_FUZZ=ON -DORVANTA_BUILD_BENCH=OFF > /dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target orvanta_reader_fuzzer
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

install: build
	@cmake --install $(BUILD_DIR)

clean:
	@rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
