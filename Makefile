# Thin front end over CMake. `make run` builds a Release build and runs the
# main job; `make test` builds and runs every test, plainly and under the
# address and undefined-behaviour sanitizers; `make bench` runs the benchmarks;
# `make fuzz` fuzzes the input parsers with clang's libFuzzer for FUZZ_SECONDS
# seconds per target.

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN  := -DCMAKE_BUILD_TYPE=Release

.PHONY: all bootstrap build build-asan run test test-plain test-asan bench fuzz clean

all: build

bootstrap:
	@./tools/bootstrap.sh

build: bootstrap
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@./tools/run-main-job.sh $(BUILD)

test-plain: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test: test-plain test-asan

bench: build
	@./tools/run-bench.sh $(BUILD)

fuzz:
	@./tools/bootstrap.sh fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) ./tools/run-fuzz.sh $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
