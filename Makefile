# Two commands matter: `make run` and `make test` (see README.md).
BUILD_RELEASE := build/release
BUILD_TEST    := build/test
CMAKE_FLAGS   := -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
PROFILE       ?= var/profile
PORT          ?= 8080
DEMO          ?= var/demo

.PHONY: run test bench deps release testbuild clean format

deps:
	@scripts/install-deps

$(BUILD_RELEASE)/build.ninja:
	cmake -S . -B $(BUILD_RELEASE) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF

$(BUILD_TEST)/build.ninja:
	cmake -S . -B $(BUILD_TEST) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON

release: deps $(BUILD_RELEASE)/build.ninja
	cmake --build $(BUILD_RELEASE)

testbuild: deps $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST)

run: release
	@scripts/run-demo $(BUILD_RELEASE) $(PROFILE) $(PORT) $(DEMO)

test: testbuild
	cd $(BUILD_TEST) && ctest --output-on-failure --timeout 600

bench: release
	@if [ -x scripts/run-bench ]; then scripts/run-bench $(BUILD_RELEASE); \
	else echo "bench: no benchmarks yet"; fi

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
