# The two commands of the project: `make run` and `make test`.
# Both install what is missing (apt-get), configure and build with CMake presets.
.PHONY: all deps build build-asan run test test-host test-asan fuzz format clean

CMAKE ?= cmake
CTEST ?= ctest
JOBS  ?= $(shell nproc)
PLATSIM = build/host/tools/platsim/platsim

all: build

deps:
	@scripts/install-deps.sh

build: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS)

build-asan: deps
	$(CMAKE) --preset asan
	$(CMAKE) --build --preset asan -j $(JOBS)

run: build
	@scripts/run-demo.sh $(PLATSIM)

test: test-host test-asan

test-host: build
	$(CTEST) --preset host -j $(JOBS)

test-asan: build-asan
	$(CTEST) --preset asan -j $(JOBS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
