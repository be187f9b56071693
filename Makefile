# Two commands do everything on a fresh Debian machine:
#   make run    install what is missing, build, run the main job
#   make test   the same set-up, then every test
# CMAKE_ARGS (for example CMAKE_ARGS=-DORV_WERROR=OFF) reaches every build
# tree, an existing one too: a tree is configured again whenever the
# arguments it was configured with change.
BUILD      ?= build
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# make fuzz-soak: how long each fuzz target runs, in seconds, and where the
# inputs it finds are kept.
SOAK_SECONDS ?= 600
SOAK_DIR   ?= $(FUZZ_BUILD)/soak

CCACHE := $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache,)

# One clang tree with the sanitizers builds the tests and the libFuzzer
# targets; the fuzz targets' short runs are among its tests. The drivers and
# the simulated platform are compiled at -O1, so that the fuzz targets and
# the tests that poll the simulated chip run fast, the tests at -O0; debug
# information is line tables but where the type check reads it.
TEST_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON \
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
              -DORV_DRIVER_OPTIMIZE=-O1 -DORV_LINE_TABLES_ONLY=ON $(LAUNCHER) $(CMAKE_ARGS)
FUZZ_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_FUZZ_BUILD=ON \
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(LAUNCHER) $(CMAKE_ARGS)
BENCH_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_BENCH=ON -DORV_BUILD_TESTS=OFF \
               $(LAUNCHER) $(CMAKE_ARGS)

.PHONY: all deps configure build test fuzz fuzz-soak run bench clean FORCE

all: build

deps:
	@bash scripts/install-deps.sh

# A tree's stamp holds the arguments it was configured with; it is rewritten
# (and the tree configured again) only when they change.
%/.orv-configured: FORCE
	@mkdir -p $*
	@printf '%s\n' '$(FLAGS_$*)' | cmp -s - $@ || printf '%s\n' '$(FLAGS_$*)' > $@
FLAGS_$(BUILD) = $(TEST_FLAGS)
FLAGS_$(FUZZ_BUILD) = $(FUZZ_FLAGS)
FLAGS_$(BENCH_BUILD) = $(BENCH_FLAGS)

$(BUILD)/build.ninja: $(BUILD)/.orv-configured
	cmake -S . -B $(BUILD) $(TEST_FLAGS)
$(FUZZ_BUILD)/build.ninja: $(FUZZ_BUILD)/.orv-configured
	cmake -S . -B $(FUZZ_BUILD) $(FUZZ_FLAGS)
$(BENCH_BUILD)/build.ninja: $(BENCH_BUILD)/.orv-configured
	cmake -S . -B $(BENCH_BUILD) $(BENCH_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test, with a short libFuzzer run of every parser of outside input
# from its corpus (the tests labelled fuzz).
test: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 600

# The short runs of the fuzz targets in the optimised fuzz tree of the soak
# (not part of `make test`, which runs them in its own tree).
fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orv_fuzzers
	ctest --test-dir $(FUZZ_BUILD) -L fuzz -j $(JOBS) --output-on-failure

# Every fuzz target for SOAK_SECONDS from its corpus; what it finds (new
# inputs, and the input of a crash) stays in SOAK_DIR/<target>/. Not part of
# `make test`.
fuzz-soak: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orv_fuzzers
	bash scripts/fuzz-soak.sh $(FUZZ_BUILD) $(SOAK_SECONDS) $(SOAK_DIR) $(JOBS)

run: build
	@bash scripts/run-main-job.sh $(BUILD)

bench: deps $(BENCH_BUILD)/build.ninja
	cmake --build $(BENCH_BUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
