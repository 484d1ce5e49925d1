# The two commands a newcomer needs:
#   make demo   boots the hosted target and runs the main job
#   make test   builds everything and runs every test
# Both install the Debian packages the build needs when they are missing.

PACKAGES := cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libcli11-dev libreadline-dev nlohmann-json3-dev pkg-config sigrok-cli \
            python3-pytest python3-venv
BUILD    := build

.PHONY: demo test deps configure build asan tsan clean

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

clean:
	rm -rf build build-asan build-tsan
