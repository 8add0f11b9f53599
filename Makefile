# Entry points for people and CI. `make run` and `make test` install what is
# missing from Debian first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
PORT       ?= 8080
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

TSAN_BUILD ?= build-tsan
WINDOWS_BUILD ?= build-windows
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
FUZZ_SECONDS ?= 60
# The test builds turn every compiler warning into an error.
TEST_FLAGS = -DPROVIDER_WARNINGS_AS_ERRORS=ON

.PHONY: all deps build build-asan run test test-normal test-asan test-tsan \
  fuzz load bench test-windows clean mutants

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

test-normal:
	cmake -S . -B $(BUILD) -G Ninja $(TEST_FLAGS) $(CMAKE_FLAGS)
	ninja -C $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DPROVIDER_SANITIZE=ON $(TEST_FLAGS) $(CMAKE_FLAGS)
	ninja -C $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The concurrency tests under ThreadSanitizer.
test-tsan: deps
	scripts/test-tsan.sh $(TSAN_BUILD)

# Every libFuzzer target for FUZZ_SECONDS seconds each.
fuzz:
	FUZZ_BUILD=$(CURDIR)/$(FUZZ_BUILD) scripts/fuzz.sh $(FUZZ_SECONDS)

# 100000 requests at 64 connections and the misbehaving clients.
load: deps build
	scripts/load-test.sh $(BUILD)

# The provider side by side with nginx, ab and xmllint.
bench:
	BUILD=$(CURDIR)/$(BENCH_BUILD) bench/run.sh

# Cross-compiled Windows build, its suite under wine64.
test-windows:
	CMAKE_FLAGS="$(TEST_FLAGS)" scripts/test-windows.sh $(WINDOWS_BUILD)

# Seeded faults: does the suite catch each fault of scripts/mutants.list?
# Long (about an hour); MUTANTS="12 17" runs only those faults.
mutants: deps
	scripts/mutants.sh $(MUTANTS)

test: deps
	$(MAKE) test-normal
	$(MAKE) test-asan
	$(MAKE) test-windows

# Every build folder the targets above and their scripts make.
clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WINDOWS_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) build-mutants
