# Entry points for a fresh Debian/Ubuntu machine: each target first installs
# the Debian packages that are missing, then configures and builds into build/.

BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PACKAGES   := cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev \
              libgtest-dev libgmock-dev libbenchmark-dev \
              fonts-wqy-zenhei iproute2 util-linux xvfb xauth \
              clang libclang-rt-14-dev python3 \
              libcli11-dev nlohmann-json3-dev tcpdump

.PHONY: all deps build run test check demo bench fuzz test-asan test-tsan clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" -eq 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing || exit 1; \
	  else \
	    echo "These packages are missing. Install them with:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Starts the tool on this machine's real network (that is its purpose on site).
run: build
	$(BUILD)/app/orven-setup

# Every test, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (NO_ASAN=1 skips that second run).
test: check
	@if [ -z "$(NO_ASAN)" ]; then $(MAKE) --no-print-directory test-asan; fi

# The suite of one build directory.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600 $(CTEST_ARGS)

# The tool beside simulated devices, inside a private network namespace.
demo: build
	tools/demo $(BUILD)

bench: build
	tools/run-bench $(BUILD)

fuzz: deps
	tools/run-fuzz $(BUILD)-fuzz $${FUZZ_SECONDS:-60}

# (The fuzz smoke is left out here: it builds its own sanitized fuzzers.)
test-asan: deps
	$(MAKE) --no-print-directory check BUILD=$(BUILD)-asan CTEST_ARGS="-LE fuzz" \
	  CMAKE_ARGS="-DORVEN_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug -DORVEN_BUILD_BENCH=OFF"

test-tsan: deps
	$(MAKE) --no-print-directory check BUILD=$(BUILD)-tsan CTEST_ARGS="-L tsan" \
	  CMAKE_ARGS="-DORVEN_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug -DORVEN_BUILD_BENCH=OFF"

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
