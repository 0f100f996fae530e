# The two commands of the project: `make run` and `make test`.
# Both install what is missing (apt-get), configure and build with CMake presets.
.PHONY: all deps build build-asan build-fuzz run test test-host test-asan test-fuzz fuzz format clean \
        map-picture

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

test: test-host test-asan test-fuzz

test-host: build
	$(CTEST) --preset host -j $(JOBS)

test-asan: build-asan
	$(CTEST) --preset asan -j $(JOBS)

build-fuzz: deps
	$(CMAKE) --preset fuzz
	$(CMAKE) --build --preset fuzz -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS each (20 in `make test`; `make fuzz FUZZ_SECONDS=600`).
test-fuzz: build-fuzz
	FUZZ_SECONDS=$${FUZZ_SECONDS:-20} $(CTEST) --preset fuzz -j $(JOBS)

fuzz: build-fuzz
	FUZZ_SECONDS=$${FUZZ_SECONDS:-300} $(CTEST) --preset fuzz -j $(JOBS) --timeout 100000

# The README's picture of the default platform's address map (docs/address-map.png).
map-picture: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS) --target platsim
	$(PLATSIM) map --svg build/address-map.svg > /dev/null
	rsvg-convert -o docs/address-map.png build/address-map.svg

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
