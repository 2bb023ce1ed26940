# Two commands do everything on a fresh Debian 12 machine: `make test` (and, later, `make demo`).
JOBS ?= $(shell nproc)

.PHONY: all deps build test asan-test bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

test: build
	ctest --preset dev -j $(JOBS)

asan-test: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	bench/run.sh build/release

clean:
	rm -rf build
