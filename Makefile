# The whole set-up on a fresh Debian machine: `make run` and `make test`.
.PHONY: deps run test bench build-release build-dev clean

JOBS ?= $(shell nproc)

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

test: build-dev
	ctest --preset dev -j $(JOBS)

bench: build-release
	./scripts/run-benchmarks build/release/bench

clean:
	rm -rf build
