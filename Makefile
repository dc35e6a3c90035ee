# cadport: the two set-up commands are `make demo` and `make check`.
JOBS    ?= $(shell nproc)
SAMPLE  ?= examples/site-plan.dxf
DEMOOUT ?= build/demo/site-plan.shp

.PHONY: all demo check check-slow release bench fuzz clean

all: release

release:
	@scripts/install-deps.sh build
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADPORT_TESTS=OFF
	cmake --build build/release -j $(JOBS)

# Builds Release and converts the bundled sample drawing.
demo: release
	@mkdir -p $(dir $(DEMOOUT))
	build/release/cadport -o $(SAMPLE) $(DEMOOUT)
	@echo
	@echo "Shapefile set written: $(abspath $(DEMOOUT)) (.shp, .shx, .dbf)"
	@echo "Look at it with: ogrinfo -al -so $(DEMOOUT)"

# Builds with warnings as errors and runs every test, then again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
check:
	@scripts/install-deps.sh test
	cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCADPORT_WERROR=ON
	cmake --build build/check -j $(JOBS)
	ctest --test-dir build/check --output-on-failure -j $(JOBS) -LE slow
	cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCADPORT_WERROR=ON -DCADPORT_SANITIZE=ON
	cmake --build build/sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build/sanitize --output-on-failure -j $(JOBS) -LE slow

# Tests too slow for every run (drawings over 2 GiB).
check-slow:
	@scripts/install-deps.sh test
	cmake -S . -B build/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCADPORT_WERROR=ON
	cmake --build build/check -j $(JOBS)
	ctest --test-dir build/check --output-on-failure -L slow

bench:
	@scripts/install-deps.sh bench
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADPORT_TESTS=OFF -DCADPORT_BENCH=ON
	cmake --build build/bench -j $(JOBS)

clean:
	rm -rf build
