# The README's commands. `make run` builds the package into .venv and runs the CLI on the
# bundled example activity; `make test` builds everything and runs every test.
PYTHON := $(shell tools/find-python)
ifeq ($(PYTHON),)
$(error no Python 3.12 or newer found; see the message above)
endif

VENV := .venv
VPY := $(VENV)/bin/python
JOBS ?= 2
BUILD := build
EXAMPLE := examples/run
.PHONY: all run install test test-cpp test-python test-abi3 bench clean

all: install

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip

# Builds the one abi3 wheel into build/dist and installs it with the test tools.
install: $(VPY)
	rm -rf $(BUILD)/dist
	$(VPY) -m pip wheel -q --no-deps -w $(BUILD)/dist .
	$(VPY) -m pip install -q --force-reinstall --no-deps $(BUILD)/dist/tramlix-*.whl
	$(VPY) -m pip install -q pytest hypothesis mypy garmin-fit-sdk==21.200.0

# The example activity summarised, then converted FIT -> GPX -> TCX -> FIT and summarised again.
run: install
	@mkdir -p $(BUILD)/out
	$(VENV)/bin/tramlix info $(EXAMPLE).fit
	$(VENV)/bin/tramlix convert $(EXAMPLE).fit $(BUILD)/out/run.gpx
	$(VENV)/bin/tramlix convert $(BUILD)/out/run.gpx $(BUILD)/out/run.tcx
	$(VENV)/bin/tramlix convert $(BUILD)/out/run.tcx $(BUILD)/out/run.fit
	$(VENV)/bin/tramlix info $(BUILD)/out/run.fit

test: test-cpp test-python test-abi3

test-cpp:
	tools/install-test-deps
	cmake -S . -B $(BUILD)/tests -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_TESTS=ON \
	  -DTRAMLIX_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/tests -j $(JOBS)
	ctest --test-dir $(BUILD)/tests --output-on-failure -j $(JOBS)

test-python: install
	$(VPY) -m pytest -q

# The wheel is abi3: the one built above must import and work on every other Python >= 3.12.
test-abi3: install
	tools/check-abi3 $(BUILD)/dist/tramlix-*.whl

bench: install
	tools/install-test-deps
	cmake -S . -B $(BUILD)/bench -DTRAMLIX_BUILD_PYTHON=OFF -DTRAMLIX_BUILD_BENCH=ON \
	  -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)/bench -j $(JOBS)
	$(VPY) -m pip install -q -r bench/requirements.txt
	$(VPY) bench/run.py --cxx-bench $(BUILD)/bench/bench/tramlix-bench \
	  --fit-bench $(BUILD)/bench/bench/tramlix-fit-bench

clean:
	rm -rf $(BUILD) $(VENV)
