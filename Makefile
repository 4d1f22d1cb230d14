# The two entry points of the README: `make demo` (the main job) and `make test`.
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
RELEASE := build/release
TESTBUILD := build/test
RELTESTBUILD := build/release-tests

.PHONY: all setup setup-build demo release install test bench fuzz format clean

all: release

# Everything: what building needs (scripts/packages-build.txt) and what the tests, benchmarks
# and fuzz targets need (scripts/packages.txt).
setup:
	@bash scripts/setup.sh

# Only what building and running nvmail needs.
setup-build:
	@bash scripts/setup.sh build

release: setup-build
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DNORVANE_TESTS=OFF \
	  -DNORVANE_BENCH=OFF >/dev/null
	@cmake --build $(RELEASE) -j$(JOBS) --target nvmail norvane norvane_shared python_package

# The headers, both libraries, the CMake package and pkg-config file under PREFIX
# (default /usr/local).
PREFIX ?= /usr/local
install: release
	@cmake --install $(RELEASE) --prefix $(PREFIX)

# Leaves its message and the files it extracted under build/demo/.
demo: release
	@bash scripts/demo.sh $(RELEASE)/tools/nvmail build/demo

# Debug build under AddressSanitizer and UndefinedBehaviorSanitizer and the optimised build a
# user makes, both with warnings as errors, then every test (quiet builds with a progress line
# unless VERBOSE=1; one summary line at the end).
test:
	@JOBS=$(JOBS) VERBOSE=$(VERBOSE) bash scripts/test.sh $(TESTBUILD) $(RELTESTBUILD)

bench: setup
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DNORVANE_TESTS=OFF >/dev/null
	@cmake --build build/bench -j$(JOBS)

# libFuzzer programs (clang); run one with build/fuzz/fuzz/fuzz_<name> fuzz/corpus/<name>
fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DNORVANE_SANITIZE=ON -DNORVANE_FUZZ=ON -DNORVANE_WERROR=ON \
	  -DNORVANE_BENCH=OFF >/dev/null
	@cmake --build build/fuzz -j$(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
