# The two commands a newcomer needs:
#   make demo   boots the hosted target and runs the main job
#   make test   builds everything and runs every test
# Both install the Debian packages the build needs when they are missing.

PACKAGES := cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libcli11-dev libreadline-dev nlohmann-json3-dev pkg-config sigrok-cli \
            python3-pytest python3-venv clang-14 libclang-rt-14-dev llvm-14
BUILD    := build

# The clang build with address + undefined sanitizers that also holds the
# fuzz targets and the stress program; a plain user build in Release.
BUILD_FUZZ     := build-fuzz
BUILD_RELEASE  := build-rel
FUZZ_SECONDS   ?= 60
FUZZ_JOBS      ?= 2
STRESS_SECONDS ?= 30
STRESS_THREADS ?= 8
TSAN_ENV       := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ASAN_ENV       := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: demo test deps configure build asan tsan sanitize fuzz stress-asan stress-tsan release ci clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing >/dev/null; \
	fi

configure: deps
	@test -f $(BUILD)/build.ninja || cmake --preset default

build: configure
	cmake --build --preset default

demo: build
	./tools/demo.sh $(BUILD)

test: build
	ctest --preset default

asan: deps
	@test -f build-asan/build.ninja || cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

tsan: deps
	@test -f build-tsan/build.ninja || cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# The whole suite under clang's address and undefined-behaviour sanitizers
# (clang also checks calls through function pointers of the wrong type).
sanitize: deps
	@test -f $(BUILD_FUZZ)/build.ninja || cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

# Builds the fuzz targets and runs each for FUZZ_SECONDS, FUZZ_JOBS at a time
# (fuzz/run_fuzzers.sh; a reproducer is printed and kept in build-fuzz/fuzz-runs).
fuzz: deps
	@test -f $(BUILD_FUZZ)/build.ninja || cmake --preset fuzz
	cmake --build --preset fuzz --target qio_fuzzers
	fuzz/run_fuzzers.sh $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_JOBS)

# The stress program (tests/stress) under AddressSanitizer and under
# ThreadSanitizer: STRESS_THREADS threads for STRESS_SECONDS.
stress-asan: deps
	@test -f $(BUILD_FUZZ)/build.ninja || cmake --preset fuzz
	cmake --build --preset fuzz --target qio5162-stress
	$(ASAN_ENV) $(BUILD_FUZZ)/bin/qio5162-stress --threads $(STRESS_THREADS) --seconds $(STRESS_SECONDS)

stress-tsan: deps
	@test -f build-tsan/build.ninja || cmake --preset tsan
	cmake --build --preset tsan --target qio5162-stress
	$(TSAN_ENV) build-tsan/bin/qio5162-stress --threads $(STRESS_THREADS) --seconds $(STRESS_SECONDS)

# A user's own build: Release, no presets (warnings stay warnings).
release: deps
	@test -f $(BUILD_RELEASE)/CMakeCache.txt || cmake -B $(BUILD_RELEASE) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_RELEASE) -j2
	ctest --test-dir $(BUILD_RELEASE) -j2 --output-on-failure

ci:
	.ci/run

clean:
	rm -rf build build-asan build-tsan $(BUILD_FUZZ) $(BUILD_RELEASE)
