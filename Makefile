# The newcomer's two commands: `make run` and `make test`.
BUILD   ?= build
WERROR  ?= OFF
TYPE    ?= RelWithDebInfo
# Two cores: builds from several shells queue on one lock instead of racing.
LOCK    := flock /tmp/quillon-build.lock

.PHONY: setup configure build run test bench format

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) -DQUILLON_WERROR=$(WERROR) >/dev/null

build: configure
	@$(LOCK) cmake --build $(BUILD) -j2

run: build
	./$(BUILD)/quillon

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	@$(LOCK) cmake --build $(BUILD) -j2 --target benches
	@scripts/run-benches.sh $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
