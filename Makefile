# Entry points. Each preset is defined in CMakePresets.json; builds land in build/<preset>/.
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
BENCHES ?= build/release/bench/engine_bench

.PHONY: all deps build test bench debug clean demo

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

# halvane on a sample photograph, timed, and the input and result side by side
DEMO_PHOTO ?= astronaut
demo:
	$(MAKE) deps
	$(MAKE) build
	mkdir -p demo
	@start=$$(date +%s.%N); \
	build/release/bin/veltrane halvane samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-halvane.png --no-registry; \
	status=$$?; end=$$(date +%s.%N); \
	[ $$status -eq 0 ] || exit $$status; \
	awk -v s=$$start -v e=$$end 'BEGIN { printf "halvane took %.2f s\n", e - s }'
	build/release/bin/veltrane-compare samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-halvane.png \
	  demo/$(DEMO_PHOTO)-comparison.png
	@echo "demo: wrote demo/$(DEMO_PHOTO)-halvane.png and demo/$(DEMO_PHOTO)-comparison.png (input left, result right)"

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
