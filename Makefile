# Thin wrapper over CMake and CTest.
BUILD ?= build

.PHONY: deps build test sanitize-test sample clean windows-deps windows windows-test

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j2

test: build
	cd $(BUILD) && ctest -j2 --output-on-failure

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer: any report stops
# the program with its own exit status. Leaks are not looked for: a fatal error exits at once,
# without releasing what is open, by design.
SANITIZE_BUILD ?= build-sanitize
sanitize-test: deps
	cmake -S . -B $(SANITIZE_BUILD) -DLSM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(SANITIZE_BUILD) -j2
	cd $(SANITIZE_BUILD) && \
	  ASAN_OPTIONS=halt_on_error=1:detect_leaks=0:exitcode=86 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=87 \
	  ctest -j2 --output-on-failure

sample: build
	bash scripts/run-sample.sh $(BUILD)

# The four programs for 64-bit Windows, cross-built with Debian's mingw-w64, and a zip of them with
# their DLLs, the licences and the README. libtiff and libics are built from their source archives
# in DEPS (once: a second run finds them built); the tests run under wine.
DEPS ?= ../shared/deps
WINDOWS_DEPS_BUILD ?= build-windows-deps
WINDOWS_BUILD ?= build-windows
WINDOWS_TEST_BUILD ?= build-windows-tests
WINDOWS_CMAKE = cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_PREFIX_PATH=$(abspath $(WINDOWS_DEPS_BUILD))/prefix -DCMAKE_BUILD_TYPE=Release

windows-deps: deps
	@bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64
	bash scripts/windows-deps.sh $(DEPS) $(WINDOWS_DEPS_BUILD)

windows: windows-deps
	$(WINDOWS_CMAKE) -S . -B $(WINDOWS_BUILD) -DLSM_BUILD_TESTS=OFF
	cmake --build $(WINDOWS_BUILD) -j2
	cd $(WINDOWS_BUILD) && cpack

# The cross-built tests under wine through CTest, then the parity run: the suite's cases run by the
# Linux programs and by the Windows programs under wine, outputs compared. wine gets a prefix of
# its own in the test build folder.
windows-test: export WINEPREFIX = $(abspath $(WINDOWS_TEST_BUILD))/wine
windows-test: export WINEDEBUG = -all
windows-test: build windows-deps
	$(WINDOWS_CMAKE) -S . -B $(WINDOWS_TEST_BUILD)
	cmake --build $(WINDOWS_TEST_BUILD) -j2
	cd $(WINDOWS_TEST_BUILD) && bash ../tests/windows/with_wine.sh ctest -j2 --output-on-failure
	bash tests/windows/with_wine.sh bash tests/windows/parity_run.sh $(BUILD) $(WINDOWS_TEST_BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WINDOWS_BUILD) $(WINDOWS_TEST_BUILD) $(WINDOWS_DEPS_BUILD)
