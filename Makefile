# Entry points for a fresh Debian/Ubuntu machine: each target first installs
# the Debian packages that are missing, then configures and builds into build/.

BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PACKAGES   := cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev \
              libgtest-dev libgmock-dev libbenchmark-dev \
              fonts-wqy-zenhei iproute2 util-linux xvfb xauth scrot \
              clang libclang-rt-14-dev python3 \
              dpkg-dev file librsvg2-bin desktop-file-utils appstream lintian x11-utils \
              libcli11-dev nlohmann-json3-dev libutfcpp-dev tcpdump

# The Windows build (cross-compiled with MinGW-w64, tested under Wine).
WINDOWS_BUILD      ?= build-windows
WINDOWS_CMAKE_ARGS ?=
WINDOWS_PACKAGES   := cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 locales \
                      libcli11-dev nlohmann-json3-dev \
                      googletest python3 iproute2 util-linux qt6-base-dev xz-utils
# Its Qt 6 for Windows (tools/windows-qt): unpacked from this archive when it
# is there, otherwise built once from Debian's qt6-base source; both kept in
# the cache folder.
WINDOWS_QT_ARCHIVE ?= $(CURDIR)/../shared/windows-qt/qt-6.4.2-x86_64-w64-mingw32.tar.xz
WINDOWS_QT_CACHE   ?= $(HOME)/.cache/orven-setup
WINDOWS_TOOLCHAIN  := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
WINDOWS_GTEST      := $(WINDOWS_BUILD)/googletest/install/lib/cmake/GTest

.PHONY: all deps build run test check package demo bench fuzz test-asan test-tsan clean \
        deps-windows build-windows test-windows package-windows demo-windows

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

# The Debian package, $(BUILD)/orven-setup_<version>_amd64.deb (CPack).
package: build
	cmake --build $(BUILD) --target package

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

# Windows: the Qt-free core, the simulator and their tests, cross-compiled
# into $(WINDOWS_BUILD)/ with the runtime linked statically, then run under
# Wine (ANSI code page 936), the endpoint and simulator tests inside the
# private network namespace as on Linux. Every Wine run is bounded in time.
deps-windows:
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_PACKAGES)"
	@if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then \
	  if [ "$$(id -u)" -eq 0 ]; then \
	    echo "Generating the zh_CN.UTF-8 locale"; \
	    localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 || exit 1; \
	  else \
	    echo "The zh_CN.UTF-8 locale is missing. Generate it with:"; \
	    echo "  sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8"; \
	    exit 1; \
	  fi; \
	fi

# GoogleTest for the target, from Debian's source package.
$(WINDOWS_GTEST)/GTestConfig.cmake: | deps-windows
	cmake -S /usr/src/googletest -B $(WINDOWS_BUILD)/googletest -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_INSTALL_PREFIX=$(CURDIR)/$(WINDOWS_BUILD)/googletest/install
	cmake --build $(WINDOWS_BUILD)/googletest -j $(JOBS)
	cmake --install $(WINDOWS_BUILD)/googletest

# The preset "windows-cross" names the toolchain and the host's Qt tools.
$(WINDOWS_BUILD)/build.ninja: | $(WINDOWS_GTEST)/GTestConfig.cmake
	qt=$$(tools/windows-qt $(WINDOWS_QT_CACHE) $(WINDOWS_QT_ARCHIVE)) && \
	cmake --preset windows-cross -B $(WINDOWS_BUILD) -DCMAKE_PREFIX_PATH=$$qt \
	  -DORVEN_BUILD_TESTS=ON -DGTest_DIR=$(CURDIR)/$(WINDOWS_GTEST) $(WINDOWS_CMAKE_ARGS)

build-windows: deps-windows $(WINDOWS_GTEST)/GTestConfig.cmake $(WINDOWS_BUILD)/build.ninja
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

test-windows: build-windows
	WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wine tools/wine-session \
	  sh -c 'cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600 $(CTEST_ARGS)'

# The program folder packed by CPack: a ZIP, and an NSIS installer when
# makensis is installed.
package-windows: build-windows
	cd $(WINDOWS_BUILD) && cpack
	@python3 -m zipfile -l $(WINDOWS_BUILD)/packages/orven-setup-*-windows-x64.zip

# The installed folder's orven-setup.exe beside orven-devsim.exe under Wine,
# inside the private network namespace, on a virtual display.
demo-windows: deps build-windows
	tools/demo-windows $(WINDOWS_BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(WINDOWS_BUILD)
