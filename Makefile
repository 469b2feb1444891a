# The whole set-up on a fresh Debian machine: `make run` and `make test`.
.PHONY: deps run test check bench package build-release build-dev build-fuzz fuzz clean

JOBS ?= $(shell nproc)
# Seconds of fuzzing per target for `make fuzz`.
FUZZ_SECONDS ?= 60

deps:
	./scripts/install-deps

build-release: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

build-dev: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

run: build-release
	./build/release/app/quellmere $(ARGS)

build-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# The fuzz targets' own tests run even when the dev tests failed; either fails the whole.
test: build-dev build-fuzz
	status=0; ctest --preset dev -j $(JOBS) || status=1; ctest --preset fuzz -j $(JOBS) || status=1; exit $$status

# The edit-compile-test loop: the unit tests alone, in well under a minute.
check: build-dev
	ctest --preset dev -j $(JOBS) -L unit

fuzz: build-fuzz
	./scripts/fuzz -t $(FUZZ_SECONDS)

bench: build-release
	./scripts/run-benchmarks build/release/bench

# The Debian package of the release build, left in build/release.
package: build-release
	cpack --config build/release/CPackConfig.cmake -B build/release
	@echo "Package: $$(ls -t $(CURDIR)/build/release/quellmere_*.deb | head -n 1)"

clean:
	rm -rf build
