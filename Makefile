# Front door of the build. `make` builds release into build/, `make test`
# builds and runs every test, `make demo` runs the sample job, `make bench`
# builds and runs the benchmarks. CMake does the real work.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all build test demo bench asan-test peers clean

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

demo: build
	@bash tools/demo.sh $(BUILD)

bench:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)
	@bash tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
