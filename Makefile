# Set-up and run targets. Each configures and builds first when needed, and
# builds only what it runs: the program alone needs a C++20 compiler and CMake;
# the tests and the posterior suite also need GoogleTest.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= 2
# "make install" puts the program in $(PREFIX)/bin.
PREFIX     ?= /usr/local
# Seconds each fuzz target runs for "make fuzz".
FUZZ_SECONDS ?= 120
FUZZ_TARGETS = fuzz_model fuzz_data fuzz_session
BENCH_TARGETS = wren_bench_data wren_bench_parents wren_bench_ars wren_bench_compare wren_bench_blocks

.PHONY: all build demo install test test-asan test-tsan bench validate fuzz clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

# Turns the tests on in an existing build directory (configured without them
# when GoogleTest was missing, or by hand); CMake stops with a message when
# GoogleTest cannot be found.
define tests_on
	@grep -qx 'WREN_TESTS:BOOL=ON' $(1)/CMakeCache.txt || cmake -S . -B $(1) -DWREN_TESTS=ON
endef

# The program only.
build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target wren

demo: build
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo && cp examples/demo/* $(BUILD)/demo/
	cd $(BUILD)/demo && ../wren 20 demo demo.cmd
	@echo "---- demo.log ----"
	@cat $(BUILD)/demo/demo.log

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Unit tests, end-to-end scenarios and the posterior suite, under ctest.
test: $(BUILD)/CMakeCache.txt
	$(call tests_on,$(BUILD))
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target wren $(BENCH_TARGETS)
	$(BUILD)/wren_bench_data
	$(BUILD)/wren_bench_parents
	$(BUILD)/wren_bench_ars
	$(BUILD)/wren_bench_compare $(BUILD)/wren
	$(BUILD)/wren_bench_blocks $(BUILD)/wren
	bash bench/compile_bench.sh $(BUILD)/wren
	bash bench/classify_bench.sh $(BUILD)/wren
	bash bench/generator_bench.sh $(BUILD)/wren
	bash bench/eval_bench.sh $(BUILD)/wren
	bash bench/terms_bench.sh $(BUILD)/wren

# The posterior suite with ten times the sweeps and a limit of 3 standard
# errors, then the simulation-based calibration of the samplers; each once
# as compiled by default and once with the blocks option.
validate: $(BUILD)/CMakeCache.txt
	$(call tests_on,$(BUILD))
	cmake --build $(BUILD) -j $(JOBS) --target wren wren_posterior wren_sbc
	WREN_VALIDATE=1 $(BUILD)/wren_posterior
	WREN_VALIDATE=1 WREN_BLOCKS=1 $(BUILD)/wren_posterior
	$(BUILD)/wren_sbc
	WREN_BLOCKS=1 $(BUILD)/wren_sbc

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DWREN_SANITIZE=ON

test-asan: $(ASAN_BUILD)/CMakeCache.txt
	$(call tests_on,$(ASAN_BUILD))
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The unit tests under ThreadSanitizer, among them chains of one model
# sweeping in threads of their own: any data race fails the run.
$(TSAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWREN_TSAN=ON -DWREN_TESTS=ON

test-tsan: $(TSAN_BUILD)/CMakeCache.txt
	$(call tests_on,$(TSAN_BUILD))
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target wren_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ./wren_tests

# The fuzz targets, built with clang and both sanitizers, run side by side,
# each for FUZZ_SECONDS on its corpus (seeded from the scenarios and the
# examples, and kept between runs), its output in $(FUZZ_BUILD)/<target>.log.
# An input running over 10 seconds counts as a hang; a crash, hang, leak or
# sanitizer report fails the run, shows that target's log and leaves the input
# as $(FUZZ_BUILD)/artifacts/<target>-*.
$(FUZZ_BUILD)/CMakeCache.txt:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWREN_FUZZ=ON \
	  -DWREN_TESTS=OFF

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	bash fuzz/seed.sh $(FUZZ_BUILD)/corpus
	mkdir -p $(FUZZ_BUILD)/artifacts $(FUZZ_BUILD)/scratch
	# The fuzzer ends without removing its scratch directory: keep them in the build.
	rm -rf $(FUZZ_BUILD)/scratch/*
	pids=""; for target in $(FUZZ_TARGETS); do \
	  TMPDIR=$(abspath $(FUZZ_BUILD))/scratch ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    $(FUZZ_BUILD)/$$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 \
	    -rss_limit_mb=2048 -detect_leaks=1 -print_final_stats=1 \
	    -artifact_prefix=$(abspath $(FUZZ_BUILD))/artifacts/$${target#fuzz_}- \
	    $(FUZZ_BUILD)/corpus/$${target#fuzz_} >$(FUZZ_BUILD)/$$target.log 2>&1 & \
	  pids="$$pids $$!:$$target"; \
	done; \
	status=0; for p in $$pids; do \
	  if wait $${p%%:*}; then echo "$${p#*:}: $$(grep -h "^Done " $(FUZZ_BUILD)/$${p#*:}.log), no find"; \
	  else status=1; echo "---- $${p#*:} failed ----"; tail -n 60 $(FUZZ_BUILD)/$${p#*:}.log; fi; \
	done; exit $$status

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
