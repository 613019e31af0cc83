# Two commands matter: `make run` and `make test` (see README.md); `make
# check` runs the unit and launcher tests alone, for everyday use.
BUILD_RELEASE := build/release
BUILD_TEST    := build/test
BUILD_TSAN    := build/tsan
BUILD_FUZZ    := build/fuzz
FUZZ_SECONDS  ?= 60
CMAKE_FLAGS   := -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
PROFILE       ?= var/profile
PORT          ?= 8080
DEMO          ?= var/demo

.PHONY: run test check deb bench fuzz deps release testbuild tsanbuild fuzzbuild clean format

deps:
	@scripts/install-deps

$(BUILD_RELEASE)/build.ninja:
	cmake -S . -B $(BUILD_RELEASE) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF

$(BUILD_TEST)/build.ninja:
	cmake -S . -B $(BUILD_TEST) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON

# ThreadSanitizer tree: only the concurrency and crash suites with the host
# and plug-in they drive.
$(BUILD_TSAN)/build.ninja:
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TSAN=ON -DORVANE_TEST_SET=stress

# libFuzzer needs clang. Sanitized as a whole, so that libcorvel can be
# instrumented too; only the harnesses and what they link are built (the
# fuzzers target). `make test` replays their seed corpora.
$(BUILD_FUZZ)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_FUZZ=ON -DORVANE_SANITIZE=ON

release: deps $(BUILD_RELEASE)/build.ninja
	cmake --build $(BUILD_RELEASE)

testbuild: deps $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST)

# Only the suites' program and what it runs (the host and the plug-in).
tsanbuild: deps $(BUILD_TSAN)/build.ninja
	cmake --build $(BUILD_TSAN) --target stress_tests

fuzzbuild: deps $(BUILD_FUZZ)/build.ninja
	cmake --build $(BUILD_FUZZ) --target fuzzers

run: release
	@scripts/run-demo $(BUILD_RELEASE) $(PROFILE) $(PORT) $(DEMO)

# Every test case is a ctest test of its own; two run side by side (each
# host a test starts takes its own free port and temporary folder).
test: testbuild tsanbuild fuzzbuild
	cd $(BUILD_TEST) && ctest -j2 --output-on-failure --timeout 600
	cd $(BUILD_TSAN) && ctest -j2 --output-on-failure --timeout 900
	cd $(BUILD_FUZZ) && ctest -j2 --output-on-failure --timeout 600
	@tests/package/check-deb.sh $(CURDIR) $(BUILD_RELEASE) || [ $$? -eq 77 ]

# Only what the unit and launcher tests need, in the test tree.
check: deps $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) --target unit_tests launcher_tests
	cd $(BUILD_TEST) && ctest -j2 -L 'unit|launcher' --output-on-failure --timeout 600

# The Debian package, from the release tree; its path is the last line.
deb: release
	@cd $(BUILD_RELEASE) && cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }
	@sed -n 's/^CPack: - package: \(.*\) generated\.$$/\1/p' $(BUILD_RELEASE)/cpack.log

fuzz: fuzzbuild
	@scripts/run-fuzz $(BUILD_FUZZ) $(FUZZ_SECONDS)

bench: release
	@if [ -x scripts/run-bench ]; then scripts/run-bench $(BUILD_RELEASE); \
	else echo "bench: no benchmarks yet"; fi

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
