# Quick start: `make run` reads the bundled sample; `make test` runs the whole suite.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
SAMPLE  ?= samples/boarding-pass.pgm

.PHONY: all deps deps-windows release asan windows run test test-release test-asan bench clean

all: release

deps:
	@bash scripts/install-deps.sh

# mingw-w64 and Wine, for the Windows components.
deps-windows:
	@bash scripts/install-windows-deps.sh

$(BUILD)/release/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release

$(BUILD)/asan/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARROW_SANITIZE=ON

$(BUILD)/windows/CMakeCache.txt: | deps-windows
	cmake -S . -B $(BUILD)/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TOOLS=OFF

release: deps $(BUILD)/release/CMakeCache.txt
	cmake --build $(BUILD)/release -j $(JOBS)

asan: deps $(BUILD)/asan/CMakeCache.txt
	cmake --build $(BUILD)/asan -j $(JOBS)

# The three component DLLs, cross-built for Windows into $(BUILD)/windows/
# and tested there under Wine. Only the core, the DLLs and their test
# program are built for Windows.
windows: deps-windows $(BUILD)/windows/CMakeCache.txt
	cmake --build $(BUILD)/windows -j $(JOBS) --target QuarrowWindows10 QuarrowWindows81 QuarrowWP81 component_dll_test
	cd $(BUILD)/windows && ctest --output-on-failure -j $(JOBS)

run: release
	@$(BUILD)/release/tools/quarrow-read $(SAMPLE)

test-release: release
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd $(BUILD)/asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The suite runs twice, optimised, then under the sanitizers; then the
# Windows components under Wine.
test: test-release test-asan windows

bench: deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_BENCH=ON -DQUARROW_BUILD_TESTS=OFF
	cmake --build $(BUILD)/bench -j $(JOBS) --target quarrow-bench
	$(BUILD)/bench/bench/quarrow-bench

clean:
	rm -rf $(BUILD)
