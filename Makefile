# The two commands of the project: `make run` and `make test`.
# Both install what is missing (apt-get), configure and build with CMake presets.
#   make test       both trees (host: g++, the images, OVMF boots; asan: clang
#                   with AddressSanitizer, UndefinedBehaviorSanitizer and the
#                   fuzz targets) built side by side, then every test of both in
#                   one CTest run (scripts/run-tests.sh)
#   make quick L=fabric        rebuild and run one test group (CTest label) ...
#   make quick R='Decode.*'    ... or the tests whose name matches, host tree
#   make quick R=... PRESET=asan   the same in the sanitizer tree
#   make test-phases   time a clean `make test` by phase (bench/make_test_phases.sh)
#   make install PREFIX=/opt/tivfw DESTDIR=/tmp/stage   tools, images, headers, docs
#   make package       the two Debian packages, in build/host/packages/
.PHONY: all deps build build-asan build-both run test test-host test-asan test-fuzz \
        fuzz quick test-phases format clean map-picture install package

CMAKE ?= cmake
CTEST ?= ctest
JOBS  ?= $(shell nproc)
PLATSIM = build/host/tools/platsim/platsim
PREFIX ?= /usr/local
# What an installation and the packages hold (packaging/CMakeLists.txt), and
# nothing more: no test or benchmark is built for them.
INSTALLED_TARGETS = platsim platsim-diag fvtool AddrTranslateDxe MemTuneSmm integration_depex \
                    tivfw_package_files

all: build

deps:
	@scripts/install-deps.sh
	@scripts/fetch-edk2.sh

build: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS)

build-asan: deps
	$(CMAKE) --preset asan
	$(CMAKE) --build --preset asan -j $(JOBS)

# Both trees at once: each ninja runs $(JOBS) jobs, so one tree's links and
# waits are filled with the other's compiles. Each line says its tree.
build-both: deps
	$(CMAKE) --preset host >/dev/null
	$(CMAKE) --preset asan >/dev/null
	@scripts/build-both.sh $(JOBS)

# Builds only platsim (and platsim-diag, which it hands --trace to): the
# Debian packages it needs, but not EDK II, which only the images need.
run:
	@scripts/install-deps.sh
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS) --target platsim
	@scripts/run-demo.sh $(PLATSIM)

test: build-both
	@JOBS=$(JOBS) scripts/run-tests.sh

# One tree's tests alone.
test-host: build
	$(CTEST) --preset host -j $(JOBS)

test-asan: build-asan
	$(CTEST) --preset asan -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS each (20 in `make test`; `make fuzz FUZZ_SECONDS=600`).
test-fuzz: build-asan
	FUZZ_SECONDS=$${FUZZ_SECONDS:-20} $(CTEST) --preset fuzz -j $(JOBS)

fuzz: build-asan
	FUZZ_SECONDS=$${FUZZ_SECONDS:-300} $(CTEST) --preset fuzz -j $(JOBS) --timeout 100000

# The developer's loop: only what one group of tests needs is rebuilt.
quick:
	@scripts/quick-test.sh "$(PRESET)" "$(L)" "$(R)"

test-phases:
	bench/make_test_phases.sh

# The README's picture of the default platform's address map (docs/address-map.png).
map-picture: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS) --target platsim
	$(PLATSIM) map --svg build/address-map.svg > /dev/null
	rsvg-convert -o docs/address-map.png build/address-map.svg

install: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS) --target $(INSTALLED_TARGETS)
	DESTDIR="$(DESTDIR)" $(CMAKE) --install build/host --prefix "$(PREFIX)"

package: deps
	$(CMAKE) --preset host
	$(CMAKE) --build --preset host -j $(JOBS) --target $(INSTALLED_TARGETS)
	cd build/host && cpack
	@ls -l build/host/packages/*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
