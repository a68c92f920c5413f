# Set-up and run targets. Each configures and builds first when needed.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2

.PHONY: all build demo test test-asan bench validate clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo && cp examples/demo/* $(BUILD)/demo/
	cd $(BUILD)/demo && ../wren 20 demo demo.cmd
	@echo "---- demo.log ----"
	@cat $(BUILD)/demo/demo.log

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/wren_bench_data
	$(BUILD)/wren_bench_parents
	$(BUILD)/wren_bench_ars
	$(BUILD)/wren_bench_compare $(BUILD)/wren
	bash bench/compile_bench.sh $(BUILD)/wren

# The posterior suite with ten times the sweeps and a limit of 3 standard
# errors, then the simulation-based calibration of the samplers.
validate: build
	WREN_VALIDATE=1 $(BUILD)/wren_posterior
	$(BUILD)/wren_sbc

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DWREN_SANITIZE=ON

test-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
