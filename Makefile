# Thin wrapper over CMake and CTest.
BUILD ?= build

.PHONY: deps build test sanitize-test sample clean

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

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
