# Two commands do everything on a fresh Debian 12 machine:
#   make demo   the main job: a whole removal on a damaged machine
#   make test   install what is missing, build both trees, run every test
BUILD  := build
# The 32-bit side of Wine (scripts/setup-wow64.sh) and the WoW64 prefix every
# test runs in.
TREE   := $(CURDIR)/$(BUILD)/wow64/root
PREFIX := $(CURDIR)/$(BUILD)/wine/wow64
# The demo starts each time from a copy of an untouched prefix.
CLEAN_PREFIX := $(CURDIR)/$(BUILD)/wine/clean
DEMO_PREFIX  := $(CURDIR)/$(BUILD)/wine/demo
SHOTS_PREFIX := $(CURDIR)/$(BUILD)/wine/shots
JOBS   ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-x86 build-x64 wow64 prefix test bench fuzz demo dist screenshots programs-x86 programs-x64 clean-prefix clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/x86/CMakeCache.txt: | deps
	cmake --preset mingw-x86 >/dev/null
$(BUILD)/x64/CMakeCache.txt: | deps
	cmake --preset mingw-x64 >/dev/null

build-x86: $(BUILD)/x86/CMakeCache.txt
	cmake --build $(BUILD)/x86 -j$(JOBS)
build-x64: $(BUILD)/x64/CMakeCache.txt
	cmake --build $(BUILD)/x64 -j$(JOBS)
build: build-x86 build-x64

wow64: | deps
	@scripts/setup-wow64.sh $(BUILD)/wow64

prefix: wow64
	@scripts/make-prefix.sh $(TREE) $(PREFIX)

# The 64-bit tree first: the 32-bit tree holds the product's tests.
test: build prefix
	@scripts/run-tests.sh $(TREE) $(PREFIX) $(BUILD)/x64 $(BUILD)/x86

# Each benchmark twice: the 32-bit build under WoW64 (emulated here; the
# product's code) and the 64-bit build natively (what emulation costs).
bench: build prefix
	@scripts/run-bench.sh $(TREE) $(PREFIX) $(BUILD) tset_bench populate_bench msi_uninstall_bench preview_bench

# The guard's oracle over 2,000 generated configurations (make test runs a
# few hundred); FUZZ_CASES=n for another number.
FUZZ_CASES ?= 2000
fuzz: build-x86 prefix
	@scripts/run-fuzz.sh $(TREE) $(PREFIX) $(BUILD)/x86 $(FUZZ_CASES)

# Only what the demo and the release need of each tree.
programs-x86: $(BUILD)/x86/CMakeCache.txt
	cmake --build $(BUILD)/x86 -j$(JOBS) --target Clearway demo_machine test_service screenshots
programs-x64: $(BUILD)/x64/CMakeCache.txt
	cmake --build $(BUILD)/x64 -j$(JOBS) --target instvelps_x64 instvelps_x64_stand_in

clean-prefix: wow64
	@scripts/make-prefix.sh $(TREE) $(CLEAN_PREFIX)

# A damaged installation in a fresh prefix, the real Clearway.exe, a restart,
# and what was removed and kept (scripts/demo.sh).
demo: programs-x86 programs-x64 clean-prefix
	@scripts/demo.sh $(TREE) $(CLEAN_PREFIX) $(DEMO_PREFIX) $(BUILD)/x86 $(BUILD)/x64

# PNGs of the dialogs, drawn under Xvfb, in $(BUILD)/screenshots.
screenshots: programs-x86 clean-prefix
	@scripts/screenshots.sh $(TREE) $(CLEAN_PREFIX) $(SHOTS_PREFIX) $(BUILD)/x86 $(CURDIR)/$(BUILD)/screenshots

# The release zip under $(BUILD).
dist: programs-x86 programs-x64
	@scripts/dist.sh $(BUILD)/x86 $(BUILD)/x64 $(BUILD)

clean:
	rm -rf $(BUILD)
