# Orvanta: `make run` and `make test` do all set-up on a fresh Debian 12 machine.
JOBS ?= 2
BUILD_DIR := build
ASAN_DIR := build-asan
DEMO_SONG := $(BUILD_DIR)/demo/orvanta-demo.wav
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test sanitize bench install clean

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
	@cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $$(( 2 * $(JOBS) ))

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

install: build
	@cmake --install $(BUILD_DIR)

clean:
	@rm -rf $(BUILD_DIR) $(ASAN_DIR)
