# Thin wrapper over CMake and CTest.
BUILD ?= build

.PHONY: deps build test sample clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j2

test: build
	cd $(BUILD) && ctest -j2 --output-on-failure

sample: build
	bash scripts/run-sample.sh $(BUILD)

clean:
	rm -rf $(BUILD)
