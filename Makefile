# Two commands do everything on a fresh Debian 12 machine: `make demo` and `make test`.
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

.PHONY: demo

# Converts the example drawings into out/ in the three output modes and lists what was written.
# Builds only the command line (the tests are built by `make test`).
demo: deps
	@test -x build/dev/cli/tarnvelox-cli || \
	  echo "Building tarnvelox-cli (the first build takes a few minutes on two cores)..."
	@start=$$(date +%s); cmake --preset dev >/dev/null && \
	  cmake --build --preset dev -j $(JOBS) --target tarnvelox-cli && \
	  echo "Built in $$(( $$(date +%s) - start )) s."
	rm -rf out && mkdir -p out
	build/dev/cli/tarnvelox-cli -q -t merge -o out/examples.pdf examples/*.dxf
	build/dev/cli/tarnvelox-cli -q -t per-drawing -o out/per-drawing examples/*.dxf
	build/dev/cli/tarnvelox-cli -q -t per-layout -o out/per-layout examples/*.dxf
	@echo "PDF files written:"
	@find out -name '*.pdf' -print0 | sort -z | xargs -0 ls -l
	@echo "Look at out/examples.pdf first: every example drawing, a bookmark per drawing and layout."
