# Entry points. Each preset is defined in CMakePresets.json; builds land in build/<preset>/.
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
BENCHES ?= build/release/bench/engine_bench build/release/bench/profile_bench build/release/bench/preview_bench

.PHONY: all deps build layers test bench debug clean demo win win-compare dist gimp-install

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

# halvane and mirelle on a sample photograph, each timed with its profiled
# noise settings printed, the input and halvane's result side by side, and a
# 100 % crop of input, result and matte; DEMO_DIALOG=1 then opens halvane's
# dialog on the photograph (needs a display)
DEMO_PHOTO ?= astronaut
DEMO_CROP ?= 140,20,160,160
DEMO_SETTINGS = python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["reals"]; \
  print(sys.argv[2] + ": overallNoiseLevel %.4f, highlightsNoiseLevel %.4f" \
  % (r["overallNoiseLevel"], r["highlightsNoiseLevel"]))'
demo:
	$(MAKE) deps
	$(MAKE) build
	mkdir -p demo
	@start=$$(date +%s.%N); \
	build/release/bin/veltrane halvane samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-halvane.png --no-registry \
	  --set alwaysProfile=1 --params-out demo/$(DEMO_PHOTO)-halvane.json; \
	status=$$?; end=$$(date +%s.%N); \
	[ $$status -eq 0 ] || exit $$status; \
	awk -v s=$$start -v e=$$end 'BEGIN { printf "halvane took %.2f s\n", e - s }'
	@start=$$(date +%s.%N); \
	build/release/bin/veltrane mirelle samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-mirelle.png --no-registry \
	  --params-out demo/$(DEMO_PHOTO)-mirelle.json; \
	status=$$?; end=$$(date +%s.%N); \
	[ $$status -eq 0 ] || exit $$status; \
	awk -v s=$$start -v e=$$end 'BEGIN { printf "mirelle took %.2f s\n", e - s }'
	@$(DEMO_SETTINGS) demo/$(DEMO_PHOTO)-halvane.json halvane
	@$(DEMO_SETTINGS) demo/$(DEMO_PHOTO)-mirelle.json mirelle
	build/release/bin/veltrane-compare samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-halvane.png \
	  demo/$(DEMO_PHOTO)-comparison.png
	build/release/bin/veltrane-compare --crop $(DEMO_CROP) samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-halvane.png \
	  demo/$(DEMO_PHOTO)-mirelle.png demo/$(DEMO_PHOTO)-crop.png
	@echo "demo: wrote demo/$(DEMO_PHOTO)-halvane.png, demo/$(DEMO_PHOTO)-mirelle.png and demo/$(DEMO_PHOTO)-comparison.png (input left, result right)"
	@echo "demo: wrote demo/$(DEMO_PHOTO)-crop.png: input, result and matte of the area $(DEMO_CROP) (left,top,width,height) at 100 %"
	@if [ -n "$(DEMO_DIALOG)" ]; then \
	  build/release/bin/veltrane halvane samples/$(DEMO_PHOTO).png demo/$(DEMO_PHOTO)-dialog.png --no-registry --dialog \
	  && echo "demo: wrote demo/$(DEMO_PHOTO)-dialog.png with the settings of the dialog"; fi

# every #include in src/ and host/ points down the layer order
layers:
	python3 scripts/check-layers.py

# the include direction first (seconds), then release, then address+undefined
# sanitizers, then thread sanitizer ("threads" tests only), then a short run
# of the fuzzers, then both Windows builds under Wine
test: deps
	python3 scripts/check-layers.py
	$(call preset-test,release)
	$(call preset-test,asan)
	$(call preset-test,tsan)
	$(call preset-test,fuzz)
	$(call preset-test,win32)
	$(call preset-test,win64)
	sh scripts/win-compare.sh build/release build/win32 build/win64

# 32- and 64-bit Windows modules cross-compiled with mingw-w64; tests under Wine
win: deps
	$(call preset-test,win32)
	$(call preset-test,win64)

# dist/veltrane-<version>-windows.zip: both plug-ins for 32- and 64-bit
# editors, with an install note
dist: deps
	cmake --preset win32
	cmake --build --preset win32 -j$(JOBS)
	cmake --preset win64
	cmake --build --preset win64 -j$(JOBS)
	bash scripts/make-dist.sh

# The pixel-equality outputs of the Linux release build and of both Windows
# builds compared: netpbm files byte for byte, PNG and TIFF files by their
# decoded values (each build's own tests check their hashes)
win-compare: deps
	$(call preset-test,release)
	$(call preset-test,win32)
	$(call preset-test,win64)
	sh scripts/win-compare.sh build/release build/win32 build/win64

# The GIMP plug-in folder (veltrane-gimp, both modules, their dialog library)
# into the user's GIMP 2.10 plug-ins folder; GIMP_PLUGIN_DIR overrides where.
GIMP_PLUGIN_DIR ?= $(or $(GIMP2_DIRECTORY),$(or $(XDG_CONFIG_HOME),$(HOME)/.config)/GIMP/2.10)/plug-ins
gimp-install: build
	test -x build/release/gimp/veltrane-gimp/veltrane-gimp || \
	  { echo "gimp-install: no GIMP plug-in was built (is libgimp2.0-dev installed? make deps)"; exit 1; }
	mkdir -p "$(GIMP_PLUGIN_DIR)/veltrane-gimp"
	install -m 755 build/release/gimp/veltrane-gimp/veltrane-gimp "$(GIMP_PLUGIN_DIR)/veltrane-gimp/"
	install -m 644 build/release/gimp/veltrane-gimp/halvane.so build/release/gimp/veltrane-gimp/mirelle.so \
	  build/release/gimp/veltrane-gimp/veltrane-gtk.so "$(GIMP_PLUGIN_DIR)/veltrane-gimp/"
	@echo "gimp-install: installed into $(GIMP_PLUGIN_DIR)/veltrane-gimp; restart GIMP"

bench: build
	set -e; for b in $(BENCHES); do echo "== $$b"; $$b; done
	bash bench/compare-convert.sh build/release

debug:
	$(call preset-test,debug)

clean:
	rm -rf build
