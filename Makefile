# Entry points. Each preset is defined in CMakePresets.json; builds land in build/<preset>/.
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
BENCHES ?= build/release/bench/engine_bench

.PHONY: all deps build test bench debug clean

# configure, build and run the tests of one preset: $(call preset-test,NAME)
define preset-test
cmake --preset $(1)
cmake --build --preset $(1) -j$(JOBS)
ctest --preset $(1) -j$(JOBS)
endef

all: build

deps:
	bash scripts/install-deps.sh

build:
	cmake --preset release
	cmake --build --preset release -j$(JOBS)

# release, then address+undefined sanitizers, then thread sanitizer ("threads" tests only)
test: deps
	$(call preset-test,release)
	$(call preset-test,asan)
	$(call preset-test,tsan)

bench: build
	set -e; for b in $(BENCHES); do echo "== $$b"; $$b; done

debug:
	$(call preset-test,debug)

clean:
	rm -rf build
