# The two commands of the README: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench fuzz sanitize clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash tools/run.sh $(BUILD)

# The suite, then the same suite under AddressSanitizer (with leak checking) and the threaded tests
# under ThreadSanitizer. SANITIZE=0 skips the sanitizer builds.
SANITIZE ?= 1
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600
ifneq ($(SANITIZE),0)
	@bash tools/sanitize.sh
endif

bench: build
	@bash bench/run-all.sh $(BUILD)

fuzz: deps
	@bash fuzz/run-all.sh

sanitize: deps
	@bash tools/sanitize.sh

clean:
	rm -rf $(BUILD)
