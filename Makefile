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

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

# The structure check's tests (its mutation test among them) and the packer's,
# under the address and undefined-behaviour sanitizers, in a build of their own.
SANITIZE_BUILD ?= build-asan
SANITIZE := -fsanitize=address,undefined
sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) -DQUILLON_WERROR=$(WERROR) \
	    -DCMAKE_CXX_FLAGS="$(SANITIZE) -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
	    -DCMAKE_C_FLAGS="$(SANITIZE)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" \
	    -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_MODULE_LINKER_FLAGS="$(SANITIZE)" >/dev/null
	@$(LOCK) cmake --build $(SANITIZE_BUILD) -j2 --target tst_basemaker tst_basemaker_mutations tst_spacker
	cd $(SANITIZE_BUILD) && $(LOCK) ctest --output-on-failure -R '^tst_(basemaker|basemaker_mutations|spacker)$$'

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
