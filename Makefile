# Convenience wrapper around CMake. Every target installs missing packages first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all run test bench clean bootstrap

all: bootstrap
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCHROMALOOM_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build/release -j $(JOBS)

bootstrap:
	@scripts/bootstrap

run: all
	build/release/app/chromaloom

test: bootstrap
	cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCHROMALOOM_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build/sanitize -j $(JOBS)
	cd build/sanitize && QT_QPA_PLATFORM=offscreen \
		ctest --output-on-failure -j $(JOBS)

bench: all
	build/release/bench/chromaloom-bench

clean:
	rm -rf build
