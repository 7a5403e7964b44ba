# The two commands of the README. Each installs what it is missing first, and only that: `run`
# what building and running need, `test` also the test rig, `bench` also the benchmarks' tools.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
ifeq ($(CI),true)
CMAKE_FLAGS += -DQH_WERROR=ON
endif

.PHONY: deps test-deps bench-deps build run test check-sanitize install bench screenshots format clean

deps:
	@bash scripts/install-deps

test-deps:
	@bash scripts/install-deps --test

bench-deps:
	@bash scripts/install-deps --bench

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/quillharbour

test: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The unit tests built with AddressSanitizer and UndefinedBehaviorSanitizer in a build folder of
# their own, and run: those of every area named in SANITIZE_AREAS.
SANITIZE_DIR ?= build-sanitize
SANITIZE_AREAS ?= model store sync blocking
space := $(subst ,, )
check-sanitize: test-deps
	@cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQH_SANITIZE=ON \
		$(filter -DQH_WERROR=ON,$(CMAKE_FLAGS)) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS) --target $(addprefix unit_tests_,$(SANITIZE_AREAS))
	cd $(SANITIZE_DIR) && ctest -L '^unit_($(subst $(space),|,$(strip $(SANITIZE_AREAS))))$$' --output-on-failure -j $(JOBS)

# The whole machine's copy (as root): the program, its menu entry, the browser extension and the
# policies that force-install it into the Chromium family. DESTDIR=<folder> stages it there.
PREFIX ?= /usr/local
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# Every screen rendered offscreen with fixed sample data into $(BUILD_DIR)/screenshots/*.png.
screenshots: build
	@cmake --build $(BUILD_DIR) --target screenshots

# Medians of nine repetitions of every benchmark in bench/, then the block-page server under wrk next to nginx,
# then the running program on a desktop, and the extension route beside the DevTools routes.
bench: export QH_BENCH_SUMMARY = $(abspath $(BUILD_DIR))/bench-summary.tsv
bench: bench-deps build
	@rm -f $(BUILD_DIR)/bench-summary.tsv
	@$(BUILD_DIR)/bench/bench_store --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
		--benchmark_display_aggregates_only=true
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/bench_todos --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
		--benchmark_display_aggregates_only=true
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/bench_block_page --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
		--benchmark_display_aggregates_only=true
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/bench_notes -median 9
	@$(BUILD_DIR)/bench/bench_sync
	@bash bench/bench_blockpage.sh $(BUILD_DIR)
	@$(BUILD_DIR)/bench/bench_desktop $(BUILD_DIR)/quillharbour 60
	@$(BUILD_DIR)/bench/bench_extension $(BUILD_DIR)/quillharbour $(BUILD_DIR)/browser-extension 60
	@$(BUILD_DIR)/bench/bench_startup $(BUILD_DIR)/quillharbour
	@bash bench/summary.sh $(BUILD_DIR)/bench-summary.tsv

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
