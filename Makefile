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

# Builds the libFuzzer targets with clang (build/fuzz) and runs each for
# FUZZ_SECONDS on a working copy of its seed corpus (build/fuzz/corpus).
# Crash, leak and timeout inputs land in build/fuzz/artifacts/<target>/;
# keep the ones that matter in fuzz/corpus/<target>/.  Logs: build/fuzz/<target>.log.
# FUZZ_DIR puts the build and the working corpus elsewhere, so that two runs
# can go side by side.
FUZZ_SECONDS ?= 300
FUZZ_DIR ?= build/fuzz
FUZZ_TARGETS ?= dxf_text_reader dxf_binary_reader dxf_layer shp_reader dbf_reader

fuzz: SHELL := /bin/bash
fuzz:
	@scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCADPORT_TESTS=OFF -DCADPORT_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	@failed=""; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/artifacts/$$t; \
	  case $$t in shp_reader|dbf_reader) len=16384;; *) len=65536;; esac; \
	  case $$t in dxf_*) dict=-dict=fuzz/dxf.dict;; *) dict=;; esac; \
	  case $$t in dxf_layer) limit=25;; *) limit=5;; esac; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(FUZZ_DIR)/fuzz/fuzz_$$t $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=$$limit -rss_limit_mb=2048 -max_len=$$len $$dict \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/artifacts/$$t/ \
	    > $(FUZZ_DIR)/$$t.log 2>&1; \
	  status=$$?; \
	  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|SUMMARY)' $(FUZZ_DIR)/$$t.log; \
	  if [ $$status -ne 0 ]; then echo "fuzz_$$t FAILED (status $$status): see $(FUZZ_DIR)/$$t.log"; \
	    failed="$$failed $$t"; fi; \
	done; \
	if [ -n "$$failed" ]; then echo "Fuzzers with findings:$$failed"; exit 1; fi

clean:
	rm -rf build
