# make run   builds (Release, in build/) and runs diagpack-jce on this host.
# make test  builds and runs every test; ends with ctest's summary line.
# make install   builds and installs into PREFIX (default /usr/local).
# make demo      runs diagpack-jce on a sample installation in a private
#                mount namespace (root only) and lists the archive it made.
# make fuzz      builds the libFuzzer targets (clang) and runs each for
#                FUZZ_SECONDS (default 60).
# make memcheck  runs the unit and end-to-end tests under valgrind.
# make release [ARCH=arm64]  static executables and the .deb and .rpm in
#                build-release/ (build-release-arm64/), tested and checked
#                (scripts/release.sh).
# make check-real-hosts [ARCH=arm64]  installs the release packages into a
#                Debian 11 root (debootstrap, cached) and runs them there as
#                Ubuntu, Debian and Rocky hosts (scripts/check-real-hosts.sh;
#                root; after make release).
# make format    reformats our C++ sources (not third_party/); make
#                format-check only checks.
# WERROR=ON      makes compiler warnings errors (CI sets it).
# SYSTEM_ZLIB=ON  builds against the system's zlib instead of the bundled
#                zlib-ng (third_party/zlib-ng).
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
WERROR ?= OFF
SYSTEM_ZLIB ?= OFF
ARCH ?= amd64

.PHONY: all build run test clean install demo fuzz memcheck format format-check release \
	check-real-hosts

all: build

build:
	@scripts/install-deps.sh build $(if $(filter ON,$(SYSTEM_ZLIB)),system-zlib)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DDIAGPACK_WERROR=$(WERROR) \
		-DDIAGPACK_SYSTEM_ZLIB=$(SYSTEM_ZLIB) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/bin/diagpack-jce

test: build
	@scripts/install-deps.sh test ansible
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-memcheck build-release build-release-arm64

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

demo: build
	@scripts/demo.sh $(BUILD)/bin/diagpack-jce

fuzz:
	@scripts/fuzz.sh $(or $(FUZZ_SECONDS),60)

memcheck:
	@scripts/memcheck.sh

release:
	@WERROR=$(WERROR) SYSTEM_ZLIB=$(SYSTEM_ZLIB) scripts/release.sh $(ARCH)

check-real-hosts:
	@scripts/check-real-hosts.sh $(ARCH)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.hpp' ':!third_party')

format-check:
	@clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.hpp' ':!third_party')
