# Quick start: `make run` reads the bundled sample; `make test` runs the whole suite.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
SAMPLE  ?= samples/boarding-pass.pgm

.PHONY: all deps release asan run test test-release test-asan bench accuracy soak clean

all: release

deps:
	@bash scripts/install-deps.sh

$(BUILD)/release/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release

$(BUILD)/asan/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARROW_SANITIZE=ON

release: deps $(BUILD)/release/CMakeCache.txt
	cmake --build $(BUILD)/release -j $(JOBS)

asan: deps $(BUILD)/asan/CMakeCache.txt
	cmake --build $(BUILD)/asan -j $(JOBS)

run: release
	@$(BUILD)/release/tools/quarrow-read $(SAMPLE)

test-release: release
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd $(BUILD)/asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The suite runs twice: optimised, then under the sanitizers.
test: test-release test-asan

bench: deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_BENCH=ON -DQUARROW_BUILD_TESTS=OFF
	cmake --build $(BUILD)/bench -j $(JOBS) --target quarrow-bench
	$(BUILD)/bench/bench/quarrow-bench

# Read rates of the whole-frame stage per kind of camera frame, and the
# wrong-read soak over 100,000 frames that must never read wrong.
accuracy: release
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --frames 200

soak: release
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 100000

clean:
	rm -rf $(BUILD)
