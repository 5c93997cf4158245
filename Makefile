# Quick start: `make run` reads the bundled sample; `make test` runs the whole suite.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
SAMPLE  ?= samples/boarding-pass.pgm

.PHONY: all deps deps-web web web-test deps-windows release asan windows run test test-release test-asan bench bench-many golden-frames clean fuzz fuzz-build fuzz-short tsan accuracy soak

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

# The suite runs twice: optimised, then under the sanitizers; then every
# fuzzer briefly over its seeds, the thread check, and the Windows
# components under Wine; last the browser module and page (`web-test`).
test: test-release test-asan fuzz-short tsan windows web-test

# The whole-frame golden table, every frame (make test checks a third).
golden-frames: release
	QUARROW_GOLDEN_FULL=1 $(BUILD)/release/tests/locate/golden_frame_table_test

# libFuzzer targets, built with clang and the address and undefined-behaviour
# sanitizers. `make fuzz` runs each for FUZZ_SECONDS, one after the other,
# keeping what it finds in $(BUILD)/fuzz-corpus (the seeds in fuzz/corpus
# stay as they are); `fuzz-short` runs each for FUZZ_SHORT_SECONDS.
FUZZ_TARGETS       := read_frame decode_chain reed_solomon image_pnm image_png image_jpeg image_y4m
FUZZ_SECONDS       ?= 300
FUZZ_SHORT_SECONDS ?= 8
FUZZ_FLAGS         ?= -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10 -print_final_stats=1

$(BUILD)/fuzz/CMakeCache.txt: | deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARROW_BUILD_FUZZ=ON \
	  -DQUARROW_BUILD_TESTS=OFF

fuzz-build: deps $(BUILD)/fuzz/CMakeCache.txt
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)/fuzz-corpus/$$t && \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s" && \
	  $(BUILD)/fuzz/fuzz/fuzz_$$t $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SECONDS) \
	    -artifact_prefix=$(BUILD)/fuzz-corpus/$$t- $(BUILD)/fuzz-corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

# Each seed once, then new inputs for a few seconds; nothing is written back.
fuzz-short: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  echo "fuzz_$$t: seeds, then $(FUZZ_SHORT_SECONDS) s" && \
	  rm -rf $(BUILD)/fuzz-short/$$t && mkdir -p $(BUILD)/fuzz-short/$$t && \
	  $(BUILD)/fuzz/fuzz/fuzz_$$t $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SHORT_SECONDS) \
	    -artifact_prefix=$(BUILD)/fuzz-short/$$t- $(BUILD)/fuzz-short/$$t fuzz/corpus/$$t \
	    > $(BUILD)/fuzz-short/$$t.log 2>&1 || { tail -40 $(BUILD)/fuzz-short/$$t.log; exit 1; }; \
	done

# ThreadSanitizer: only the library, the component, the Python module and
# the concurrency test are built.
TSAN_TARGETS := concurrency_test quarrow_python

$(BUILD)/tsan/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARROW_TSAN=ON

tsan: deps $(BUILD)/tsan/CMakeCache.txt
	cmake --build $(BUILD)/tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(BUILD)/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -R '^concurrency'

bench: deps
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_BENCH=ON -DQUARROW_BUILD_TESTS=OFF
	cmake --build $(BUILD)/bench -j $(JOBS) --target quarrow-bench
	$(BUILD)/bench/bench/quarrow-bench

# Frames per second over many 720p frames: threads, read_many and Dask.
bench-many: release
	PYTHONPATH=$(BUILD)/release/python /usr/bin/python3 bench/many_frames.py $(BUILD)/release
# Read rates of the whole-frame stage per kind of camera frame, and the
# wrong-read soak over 100,000 frames that must never read wrong, and
# 16,000 more blurred 0.45-1 module, where the reader retries most, and
# 16,000 blurred with camera noise, where it also solves modules from
# every pixel, and 16,000 under a highlight, where mode rings are read
# against the bull's-eye's rings and their doubtful words erased, and
# 16,000 warped, where symbols are read through tracked meshes.
accuracy: release
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --frames 200

soak: release
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 100000
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 16000 --blurred 1 --seed 21
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 16000 --blurred 1 --noisy 1 --seed 23
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 16000 --glare 1 --seed 25
	$(BUILD)/release/tests/accuracy/quarrow-accuracy --soak 16000 --warped 1 --seed 27

# The browser module: emscripten builds web/dist/quarrow.mjs and quarrow.wasm
# from the same sources in $(BUILD)/web; `web-test` reads the samples in
# Node, then scans a fake camera clip in headless Chromium.
WEB_JOBS ?= 2
export NODE_PATH ?= /usr/share/nodejs

deps-web:
	@bash scripts/install-web-deps.sh

$(BUILD)/web/CMakeCache.txt: | deps-web
	emcmake cmake -S . -B $(BUILD)/web -Wno-dev -DCMAKE_BUILD_TYPE=Release \
	  -DQUARROW_BUILD_TESTS=OFF -DQUARROW_BUILD_TOOLS=OFF -DQUARROW_BUILD_PYTHON=OFF \
	  -DCMAKE_CXX_FLAGS=-fwasm-exceptions -DCMAKE_EXE_LINKER_FLAGS=-fwasm-exceptions

web: deps-web $(BUILD)/web/CMakeCache.txt
	nice -n 10 cmake --build $(BUILD)/web -j $(WEB_JOBS) --target quarrow_web
	@ls -l web/dist/quarrow.mjs web/dist/quarrow.wasm

web-test: web
	@bash scripts/install-web-deps.sh --npm
	node web/test/module.test.mjs
	node web/test/page.test.mjs

clean:
	rm -rf $(BUILD) web/dist web/test-output
