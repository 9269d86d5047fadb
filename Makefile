# Set-up, build and test entry points. Every target installs what it needs
# and is safe to run again.

SHELL       := /bin/bash
VENV        := .venv
PY          := $(VENV)/bin/python
BUILD       := build/py
BENCH_BUILD := build/bench
SAN_BUILD   := build/sanitize
FUZZ_BUILD  := build/fuzz
DEB_PKGS    := libgtest-dev libbenchmark-dev
# libFuzzer and its runtimes, for `make fuzz` only.
FUZZ_DEB_PKGS := clang libclang-rt-14-dev
PY_PKGS     := scikit-build-core 'pybind11>=3.0,<4' cmake ninja pytest pandas networkx
JOBS        ?= $(shell nproc)

export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: all demo test test-cpp test-python install sysdeps bench sanitize fuzz clean

all: install

# Installs the Debian packages $(1) that are missing.
define install_debs
	@missing=""; for p in $(1); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -q && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi
endef

# Debian packages the C++ tests and benchmarks need.
sysdeps:
	$(call install_debs,$(DEB_PKGS))

# The virtual environment, made with pyenv's Python 3.13.
$(VENV)/.ready:
	PYENV_VERSION=3.13.0 python3.13 -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q $(PY_PKGS)
	touch $@

# Builds the libraries, the C++ tests and the module, and installs the module
# into the virtual environment. The build directory is kept, so rebuilds are
# incremental.
install: sysdeps $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation \
	  -C build-dir=$(BUILD) -C cmake.define.MORVANE_BUILD_TESTS=ON .

demo: install
	$(PY) examples/quickstart.py

test-cpp: install
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-python: install
	$(PY) -m pytest -q tests/python

# Runs both suites and fails when either fails.
test: install
	@status=0; \
	echo "== C++ tests (ctest)"; \
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) || status=1; \
	echo "== Python tests (pytest)"; \
	$(PY) -m pytest -q tests/python || status=1; \
	exit $$status

# The C++ benchmarks, then the Python ones against the installed module
# (a Release build).
bench: install
	$(VENV)/bin/cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja \
	  -DMORVANE_BUILD_PYTHON=OFF -DMORVANE_BUILD_BENCH=ON
	$(VENV)/bin/cmake --build $(BENCH_BUILD)
	@for b in $(BENCH_BUILD)/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done
	@for b in bench/*.py; do echo "== $$b"; $(PY) "$$b" || exit 1; done

# The C++ tests and the extension module built with AddressSanitizer and
# UndefinedBehaviorSanitizer (LeakSanitizer on), then ctest and pytest run
# under them. The interpreter itself is not instrumented: the ASan runtime is
# preloaded (with libstdc++, so that its exception interceptors resolve), and
# pymalloc is turned off so that every Python allocation goes through malloc.
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

sanitize: sysdeps $(VENV)/.ready
	$(VENV)/bin/cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja -DMORVANE_SANITIZE=ON \
	  -DMORVANE_BUILD_TESTS=ON -DPython_EXECUTABLE=$(CURDIR)/$(PY) \
	  -Dpybind11_DIR="$$($(PY) -m pybind11 --cmakedir)"
	$(VENV)/bin/cmake --build $(SAN_BUILD)
	@status=0; \
	echo "== C++ tests under ASan+UBSan"; \
	$(SAN_ENV) ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS) || status=1; \
	echo "== Python tests under ASan+UBSan"; \
	$(SAN_ENV) PYTHONMALLOC=malloc PYTHONPATH=$(CURDIR)/$(SAN_BUILD)/python \
	  LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
	  $(PY) -m pytest -q -p no:cacheprovider tests/python || status=1; \
	exit $$status

# The libFuzzer targets of tests/fuzz, built with clang under ASan and UBSan
# (no Python module), each run for FUZZ_SECONDS on its working corpus
# build/fuzz/corpus/<target>. The compile target's corpus starts from the
# committed seeds, the fixtures and the programs embedded in the tests, the
# flow target's from its committed seeds; the corpora grow from run to run.
# Fails when any target finds a crash, a leak, a time-out, an out-of-memory,
# an escaping exception or, for fuzz_flows, runs that disagree or return an
# unsound graph; the input that caused it is left in
# build/fuzz/artifacts/<target>/.
FUZZ_SECONDS ?= 60
FUZZ_CXX     ?= clang++-14
FUZZ_TARGETS := fuzz_compile fuzz_run_evidence fuzz_flows
FUZZ_FLAGS   := -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
FUZZ_FLAGS_fuzz_compile := -dict=$(CURDIR)/tests/fuzz/morvane.dict
# Its input is a stream of the generator's decisions: full-length inputs
# from the start make whole programs.
FUZZ_FLAGS_fuzz_flows := -max_len=4096 -len_control=0
FUZZ_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

fuzz: $(VENV)/.ready
	$(call install_debs,$(FUZZ_DEB_PKGS))
	$(VENV)/bin/cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DMORVANE_BUILD_PYTHON=OFF -DMORVANE_BUILD_FUZZ=ON
	$(VENV)/bin/cmake --build $(FUZZ_BUILD) --target $(FUZZ_TARGETS)
	@mkdir -p $(foreach t,$(FUZZ_TARGETS),$(FUZZ_BUILD)/corpus/$(t) $(FUZZ_BUILD)/artifacts/$(t))
	cp tests/fuzz/corpus/compile/* tests/fixtures/programs/*.mv $(FUZZ_BUILD)/corpus/fuzz_compile/
	cp tests/fuzz/corpus/flows/* $(FUZZ_BUILD)/corpus/fuzz_flows/
	$(PY) tests/fuzz/extract_programs.py . $(FUZZ_BUILD)/corpus/fuzz_compile
	@status=0; \
	$(foreach t,$(FUZZ_TARGETS),\
	echo "== $(t) for $(FUZZ_SECONDS) s"; \
	$(FUZZ_ENV) $(FUZZ_BUILD)/tests/fuzz/$(t) $(FUZZ_FLAGS) $(FUZZ_FLAGS_$(t)) \
	  -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(FUZZ_BUILD)/artifacts/$(t)/ \
	  $(FUZZ_BUILD)/corpus/$(t) || { status=1; echo "== $(t) FAILED: see $(FUZZ_BUILD)/artifacts/$(t)/"; }; ) \
	exit $$status

clean:
	rm -rf build
