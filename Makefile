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

# Quality of the learning methods on real photographs with common looks (scripts/makelooks).
.PHONY: quality
quality: all
	scripts/makelooks build/looks
	build/release/bench/chromaloom-lookquality build/looks

# libFuzzer targets, built with clang in $(FUZZ_BUILD) apart from the gcc builds. Each runs
# FUZZ_RUNS inputs or FUZZ_TIME seconds, whichever ends first, starting from the checked-in
# corpus; what it adds goes to $(FUZZ_BUILD)/corpus, faulty inputs to $(FUZZ_BUILD)/artifacts.
# FUZZ_FLAGS passes further libFuzzer options (e.g. -jobs=2, -max_len=20000).
FUZZ_TARGETS ?= cubefile filterfile image
FUZZ_RUNS ?= 100000
FUZZ_TIME ?= 300
FUZZ_BUILD ?= build/fuzz
FUZZ_FLAGS ?=

.PHONY: fuzz
fuzz: bootstrap
	@fuzz/bootstrap
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCHROMALOOM_FUZZ=ON -DCHROMALOOM_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	for name in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$name $(FUZZ_BUILD)/artifacts/$$name && \
		$(FUZZ_BUILD)/fuzz/fuzz_$$name -runs=$(FUZZ_RUNS) -max_total_time=$(FUZZ_TIME) \
			-dict=fuzz/$$name.dict -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$name/ $(FUZZ_FLAGS) \
			$(FUZZ_BUILD)/corpus/$$name fuzz/corpus/$$name || exit 1; \
	done

clean:
	rm -rf build
