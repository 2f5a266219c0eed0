# make run   builds (Release, in build/) and runs diagpack-jce on this host.
# make test  builds and runs every test; ends with ctest's summary line.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build run test clean

all: build

build:
	@scripts/install-deps.sh build
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/bin/diagpack-jce

test: build
	@scripts/install-deps.sh test
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-fuzz
