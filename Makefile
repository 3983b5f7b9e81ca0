# The newcomer's two commands: `make run` and `make test`.
BUILD   ?= build
WERROR  ?= OFF
TYPE    ?= RelWithDebInfo
# Two cores: builds from several shells queue on one lock instead of racing.
LOCK    := flock /tmp/quillon-build.lock

.PHONY: setup configure build run test sanitize bench format package package-test

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) -DQUILLON_WERROR=$(WERROR) >/dev/null

build: configure
	@$(LOCK) cmake --build $(BUILD) -j2

run: build
	./$(BUILD)/quillon

# SANITIZE=ON runs the same tests in the sanitized build instead (what CI does:
# one build and one run of every test rather than two of each).
ifeq ($(SANITIZE),ON)
test: sanitize
else
test: build
	cd $(BUILD) && ctest --output-on-failure -j2
endif

# Every test under the address and undefined-behaviour sanitizers, in a build
# of their own (the program and the extraction process it starts included).
SANITIZE_BUILD ?= build-asan
sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) -DQUILLON_WERROR=$(WERROR) \
	    -DQUILLON_SANITIZE=ON >/dev/null
	@$(LOCK) cmake --build $(SANITIZE_BUILD) -j2
	@scripts/sanitize-tests.sh $(SANITIZE_BUILD)

# A Debian package of the program: $(BUILD)/quillon_VERSION_ARCH.deb.
package: build
	@rm -f $(BUILD)/quillon_*.deb
	@cd $(BUILD) && $(LOCK) cpack -G DEB

# The package installed on a clean Debian 12 root, run there, and removed.
package-test: package
	@tests/package/install_in_root.sh $(BUILD)

bench: build
	@$(LOCK) cmake --build $(BUILD) -j2 --target benches
	@scripts/run-benches.sh $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
