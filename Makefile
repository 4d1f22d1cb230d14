# The two entry points of the README: `make demo` (the main job) and `make test`.
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
RELEASE := build/release
TESTBUILD := build/test
RELTESTBUILD := build/release-tests

.PHONY: all setup demo release test bench fuzz format clean

all: release

setup:
	@bash scripts/setup.sh

release: setup
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DNORVANE_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) -j$(JOBS) --target nvmail norvane norvane_shared

demo: release
	@bash scripts/demo.sh $(RELEASE)/tools/nvmail

# Debug build under AddressSanitizer and UndefinedBehaviorSanitizer, then every test; then the
# optimised build a user makes, tests included, so that warnings only the optimiser finds
# (-Wrestrict, -Wstringop-overflow) fail here rather than on a user's machine.
test: setup
	@cmake -S . -B $(TESTBUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
	  -DNORVANE_SANITIZE=ON -DNORVANE_BENCH=OFF -DNORVANE_WERROR=ON >/dev/null
	@cmake --build $(TESTBUILD) -j$(JOBS)
	@cd $(TESTBUILD) && ctest --output-on-failure -j$(JOBS)
	@cmake -S . -B $(RELTESTBUILD) -DCMAKE_BUILD_TYPE=Release -DNORVANE_WERROR=ON >/dev/null
	@cmake --build $(RELTESTBUILD) -j$(JOBS)

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
