#!/usr/bin/env bash
# Installs what testing needs and runs every test of the project:
#   1. the C++ unit tests of the core (CMake, GoogleTest, ctest);
#   2. hardening: the same unit tests under AddressSanitizer and
#      UndefinedBehaviorSanitizer, and a bounded fuzzing run (tests/hardening.sh);
#   3. the Python tests under CPython (python3), in .venv-cpython, every
#      Python block of README.md and docs/ among them;
#   4. the documentation site built in strict mode (mkdocs, in .venv-cpython);
#   5. the Python tests under PyPy (pypy3), in .venv-pypy.
# The stages run one after another; inside a stage, builds, ctest, the
# fuzzing runs and pytest (pytest-xdist workers) use JOBS processes
# (default 2).
# Meant for a fresh Debian 12 machine, run as root (or with sudo for the
# system packages).  Exits non-zero when anything fails.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
export DEBIAN_FRONTEND=noninteractive
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off

START=$SECONDS
LOG_DIR=$ROOT/build/logs
mkdir -p "$LOG_DIR"
declare -a SUMMARY=()
TOTAL_PASSED=0
TOTAL_FAILED=0
TOTAL_SKIPPED=0

section() {
  printf '\n==== %s ==== (at %d s)\n' "$*" $((SECONDS - START))
}

# Runs a command with its output in a log file; shows the log only on failure.
quietly() {
  local name=$1
  shift
  local log=$LOG_DIR/$name.log
  if ! "$@" >"$log" 2>&1; then
    echo "FAILED: $*" >&2
    tail -n 200 "$log" >&2
    return 1
  fi
}

# --- system packages ---------------------------------------------------------

section "System packages"
need=()
for package in pypy3 pypy3-dev pypy3-venv libgtest-dev valgrind; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    need+=("$package")
  fi
done
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v nm >/dev/null || need+=(binutils)
if ((${#need[@]})); then
  SUDO=()
  if [[ $(id -u) != 0 ]]; then SUDO=(sudo); fi
  echo "installing: ${need[*]}"
  quietly apt-update "${SUDO[@]}" apt-get update -q
  quietly apt-install "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
else
  echo "all present"
fi

# --- C++ unit tests ----------------------------------------------------------

section "C++ unit tests"
quietly cmake-configure cmake -S . -B build/cpp -G Ninja \
  -DORDAVINE_BUILD_MODULE=OFF -DORDAVINE_BUILD_TESTS=ON
quietly cmake-build cmake --build build/cpp -j "$JOBS"
ctest_log=$LOG_DIR/ctest.log
set +e
ctest --test-dir build/cpp --output-on-failure --no-tests=error -j "$JOBS" 2>&1 | tee "$ctest_log" | tail -n 3
ctest_status=${PIPESTATUS[0]}
set -e
if ((ctest_status != 0)); then
  # Show the failing tests' output, which the tail above cut off.
  grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$ctest_log" >&2 || true
  echo "C++ unit tests failed (ctest exit code $ctest_status)" >&2
  exit 1
fi
cpp_total=$(sed -n -E 's/.*tests passed.* out of ([0-9]+).*/\1/p' "$ctest_log" | tail -n 1)
TOTAL_PASSED=$((TOTAL_PASSED + ${cpp_total:-0}))
SUMMARY+=("C++ (ctest): ${cpp_total:-?} passed")

# --- hardening ---------------------------------------------------------------

section "Hardening (sanitizers, fuzzing)"
hardening_log=$LOG_DIR/hardening.log
set +e
bash tests/hardening.sh >"$hardening_log" 2>&1
hardening_status=$?
set -e
grep -E '^(sanitized unit tests|fuzzing[^:]*|stat::number_of_executed_units|hardening):' "$hardening_log" || true
if ((hardening_status != 0)); then
  tail -n 120 "$hardening_log" >&2
  echo "hardening checks failed (exit code $hardening_status)" >&2
  exit 1
fi
hardening_passed=$(sed -n -E 's/^hardening: ([0-9]+) passed.*/\1/p' "$hardening_log" | tail -n 1)
TOTAL_PASSED=$((TOTAL_PASSED + ${hardening_passed:-0}))
SUMMARY+=("hardening: ${hardening_passed:-?} passed")

# --- Python tests ------------------------------------------------------------

# Adds the counts from pytest's closing line in log $1 to the totals and
# leaves that line, without its timing, in PYTEST_LINE.
count_pytest() {
  local line word n
  line=$(grep -E '[0-9]+ (passed|failed|skipped|errors?)' "$1" | tail -n 1 || true)
  line=$(sed -E 's/ in [0-9.]+s.*//; s/=//g; s/^ +//' <<<"$line")
  for word in passed failed skipped error errors; do
    n=$(grep -oE "[0-9]+ $word\b" <<<"$line" | grep -oE '^[0-9]+' || true)
    n=${n:-0}
    case $word in
      passed) TOTAL_PASSED=$((TOTAL_PASSED + n)) ;;
      skipped) TOTAL_SKIPPED=$((TOTAL_SKIPPED + n)) ;;
      *) TOTAL_FAILED=$((TOTAL_FAILED + n)) ;;
    esac
  done
  PYTEST_LINE=$line
}

# run_pytest NAME VENV: runs the Python tests with the venv's interpreter, in
# JOBS worker processes (pytest-xdist).  Tests marked with an xdist_group run
# in one worker together (--dist loadgroup); the rest go to whichever worker
# is free.
run_pytest() {
  local name=$1 venv=$2 log=$LOG_DIR/pytest-$1.log status
  set +e
  "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider -n "$JOBS" --dist loadgroup 2>&1 |
    tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  if ((status == 5)); then
    # "No tests collected": only acceptable while there are no test files.
    if compgen -G "tests/python/test_*.py" >/dev/null; then
      echo "pytest under $name collected no tests although test files exist" >&2
      exit 1
    fi
    echo "no Python tests yet"
  elif ((status != 0)); then
    echo "Python tests failed under $name (pytest exit code $status)" >&2
    exit 1
  fi
  count_pytest "$log"
  SUMMARY+=("$name (pytest): $PYTEST_LINE")
}

section "CPython: install"
python3 -m venv .venv-cpython
# fusion-blossom: a second decoder for the sinter plug-in's tests only (not in the
# package's sinter extra, which promises sinter, stim and pymatching).
quietly pip-cpython-tools .venv-cpython/bin/python -m pip install pytest pytest-xdist numpy stim sinter pymatching fusion-blossom hypothesis mypy types-networkx networkx matplotlib build 'dask[distributed]'
# The distributable files are what gets tested: a wheel built here for
# CPython, and a source distribution that the PyPy run below compiles.
rm -rf build/dist
quietly sdist .venv-cpython/bin/python -m build --sdist --outdir build/dist .
quietly wheel-cpython .venv-cpython/bin/python -m pip wheel --no-deps -w build/dist .
quietly pip-cpython-ordavine .venv-cpython/bin/python -m pip install --force-reinstall --no-deps build/dist/ordavine-*.whl
echo "$(.venv-cpython/bin/python --version): ordavine installed from $(basename build/dist/ordavine-*.whl)"
# The documentation tools, at the versions pinned by the `docs` extra.
wheel=$(ls build/dist/ordavine-*.whl)
quietly pip-cpython-docs .venv-cpython/bin/python -m pip install "${wheel}[docs]"

section "CPython: tests"
# CPython has every optional package the documentation's blocks use: none may skip.
ORDAVINE_DOCS_ALL_BLOCKS=1 run_pytest CPython .venv-cpython

section "Documentation site"
# Strict: a broken link or anchor, a reference to a member the stubs lack,
# or any other warning fails the build.
rm -rf build/site
if ! NO_MKDOCS_2_WARNING=1 .venv-cpython/bin/mkdocs build --strict --site-dir build/site \
  >"$LOG_DIR/mkdocs.log" 2>&1; then
  grep -v '^INFO' "$LOG_DIR/mkdocs.log" >&2 || true
  echo "the documentation site does not build in strict mode" >&2
  exit 1
fi
pages=$(find build/site -name '*.html' ! -name 404.html | wc -l)
echo "built in strict mode: $pages pages in build/site"
TOTAL_PASSED=$((TOTAL_PASSED + 1))
SUMMARY+=("documentation site (mkdocs --strict): $pages pages, no warnings")

section "PyPy: install"
pypy3 -m venv .venv-pypy
quietly pip-pypy-tools .venv-pypy/bin/python -m pip install pytest pytest-xdist hypothesis
# numpy and stim only where a ready wheel exists; tests that need them skip otherwise.
for package in numpy stim; do
  if ! quietly "pip-pypy-$package" timeout 300 .venv-pypy/bin/python -m pip install \
    --only-binary=:all: "$package" 2>/dev/null; then
    echo "note: no $package wheel for PyPy; tests that need it are skipped"
  fi
done
quietly pip-pypy-ordavine .venv-pypy/bin/python -m pip install --force-reinstall --no-deps build/dist/ordavine-*.tar.gz
echo "$(.venv-pypy/bin/python --version 2>&1 | tr '\n' ' '): ordavine installed from $(basename build/dist/ordavine-*.tar.gz)"

section "PyPy: tests"
run_pytest PyPy .venv-pypy

# --- summary -----------------------------------------------------------------

section "Summary"
printf '%s\n' "${SUMMARY[@]}"
echo "time: $((SECONDS - START)) s"
echo "total: $TOTAL_PASSED passed, $TOTAL_FAILED failed, $TOTAL_SKIPPED skipped"
