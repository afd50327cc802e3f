# Front door of the build. `make` builds release into build/, `make test`
# builds and runs every test, `make demo` builds the command-line tool into
# build-demo/ (no tests, so no GoogleTest) and runs the sample job there,
# `make bench` builds the benchmarks into build-bench/ and runs them (build/
# keeps its own switches). `make windows` cross-builds the Windows
# DLL, its programs and tests into build-win/ with mingw-w64;
# `make asan-test` builds every test under ASan+UBSan into build-asan/ and
# runs them; `make clang-build` builds the whole tree, tests included, with
# clang 14 into build-clang/ (CI compiles everything with both compilers);
# `make check` runs the include-rule and layout checks;
# `make windows-test` runs that test suite under Wine. `make fuzz` builds
# the libFuzzer targets with clang 14, ASan and UBSan into build-fuzz/
# (tools/fuzz.sh SECONDS runs them). CMake does the real work.

BUILD       ?= build
DEMO_BUILD  ?= build-demo
BENCH_BUILD ?= build-bench
ASAN_BUILD  ?= build-asan
CLANG_BUILD ?= build-clang
WIN_BUILD   ?= build-win
FUZZ_BUILD  ?= build-fuzz
JOBS        ?= $(shell nproc)
CMAKE_ARGS  ?=

.PHONY: all build test demo bench asan-test peers clean windows windows-tools \
        windows-test fuzz fuzz-tools check format-tools clang-build

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

peers:
	@bash tools/install-peers.sh

test: peers build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON $(CMAKE_ARGS)

asan-test: peers $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The demo needs only qxdb, which brings the component and the VM module it
# loads: its own tree, configured without the tests.
$(DEMO_BUILD)/CMakeCache.txt:
	cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF \
	  $(CMAKE_ARGS)

demo: $(DEMO_BUILD)/CMakeCache.txt
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target qxdb
	@bash tools/demo.sh $(DEMO_BUILD)

# The benchmarks have their own tree, so the bench switch never reaches
# build/ (whose `make test` would then build them too).
$(BENCH_BUILD)/CMakeCache.txt:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_BENCH=ON \
	  -DQX_BUILD_TESTS=OFF $(CMAKE_ARGS)

bench: peers $(BENCH_BUILD)/CMakeCache.txt
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash tools/bench.sh $(BENCH_BUILD)

windows-tools:
	@bash tools/install-windows-tools.sh

$(WIN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_ARGS)

# The build runs one of its own programs (the message packer) under Wine:
# in the build tree's private prefix, quietly.
windows: export WINEPREFIX = $(abspath $(WIN_BUILD))/wineprefix
windows: export WINEDEBUG = -all
windows: windows-tools $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j $(JOBS)

# A private Wine prefix under the build tree, so every run starts from the
# same clean Windows directory; Wine's own diagnostics are silenced.
windows-test: windows build
	@bash tools/windows-test.sh $(WIN_BUILD) $(BUILD) $(JOBS)

fuzz-tools:
	@bash tools/install-fuzz-tools.sh

# Only the fuzz targets and what they link are built (no tests, no
# component): every library with the sanitizers and coverage hooks.
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DQX_BUILD_FUZZ=ON -DQX_BUILD_TESTS=OFF \
	  $(CMAKE_ARGS)

fuzz: fuzz-tools
	@$(MAKE) --no-print-directory $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target qx_fuzz

# The second compiler: clang 14 builds every target, tests included, with
# warnings as errors (unoptimised: the point is the compile, the tests run
# in the g++ trees).
$(CLANG_BUILD)/CMakeCache.txt:
	cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_COMPILER=clang++-14 $(CMAKE_ARGS)

clang-build: fuzz-tools
	@$(MAKE) --no-print-directory $(CLANG_BUILD)/CMakeCache.txt
	cmake --build $(CLANG_BUILD) -j $(JOBS)

format-tools:
	@bash tools/install-packages.sh format-tools clang-format-14

# Include rules (tools/check_includes.py) and the code's layout
# (.clang-format, tools/check_format.sh).
check: format-tools
	python3 tools/check_includes.py
	bash tools/check_format.sh

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) $(BENCH_BUILD) $(ASAN_BUILD) $(CLANG_BUILD) \
	  $(WIN_BUILD) $(FUZZ_BUILD)
