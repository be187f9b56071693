# Two commands do everything on a fresh Debian machine:
#   make run    install what is missing, build, run the main job
#   make test   the same set-up, then every test
BUILD      ?= build
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

CCACHE := $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache,)

.PHONY: all deps configure build test fuzz run bench clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON $(LAUNCHER) $(CMAKE_ARGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build fuzz
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 600 -LE fuzz

# The parsers of outside input are fuzzed with clang's libFuzzer: a short run
# of every fuzz target from its corpus.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(LAUNCHER) $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orv_fuzzers
	ctest --test-dir $(FUZZ_BUILD) -L fuzz -j $(JOBS) --output-on-failure

run: build
	@bash scripts/run-main-job.sh $(BUILD)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_BENCH=ON -DORV_BUILD_TESTS=OFF $(LAUNCHER)
	cmake --build $(BENCH_BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
