# Two commands do everything on a fresh Debian 12 machine:
#   make demo   the main job (arrives with the run sequence)
#   make test   install what is missing, build both trees, run every test
BUILD  := build
PREFIX := $(CURDIR)/$(BUILD)/wine/prefix64
JOBS   ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-x86 build-x64 prefix test bench demo clean

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

prefix: | deps
	@scripts/make-prefix.sh $(PREFIX)

test: build prefix
	@scripts/run-tests.sh $(BUILD)/x64 $(PREFIX)

bench: build prefix
	@rc=0; for b in tset_bench populate_bench; do \
	  echo "== $$b"; WINEPREFIX=$(PREFIX) scripts/wine-run $(BUILD)/x64/bench/$$b.exe || rc=1; \
	done; WINEPREFIX=$(PREFIX) wineserver -k 2>/dev/null; exit $$rc

demo:
	@echo "make demo runs a whole removal on a damaged test machine; it arrives with the run sequence." >&2
	@echo "Until then, make test shows what is built." >&2
	@exit 2

clean:
	rm -rf $(BUILD)
