# Entry points for people and CI. `make run` and `make test` install what is
# missing from Debian first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
PORT       ?= 8080
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan run test test-normal test-asan clean bench

all: build

deps:
	scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DPROVIDER_SANITIZE=ON $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	ninja -C $(BUILD)

build-asan: $(ASAN_BUILD)/build.ninja
	ninja -C $(ASAN_BUILD)

# The provider in the foreground on 127.0.0.1:$(PORT) with the demo data.
run: deps build
	cd demo && INVENTORY_PROVIDER_REGISTRY=$(CURDIR)/demo/registry.reg \
	  INVENTORY_PROVIDER_LOCK_DIR=/tmp \
	  ../$(BUILD)/inventory-provider -c -z -p $(PORT) -V 0x71

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test: deps
	$(MAKE) test-normal
	$(MAKE) test-asan

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
