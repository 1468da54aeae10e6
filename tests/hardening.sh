#!/usr/bin/env bash
# Hardening checks of the C++ core:
#   1. the unit tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (clang, in the same build as the fuzz targets, so the core is compiled
#      with the sanitizers once), run with ctest;
#   2. bounded libFuzzer runs, JOBS at a time, each from its committed seed
#      corpus and with a log of its own (build/logs/TARGET.log): a longer
#      one of fuzz/fuzz_register.cpp (from fuzz/corpus), and shorter ones
#      on the untrusted-input surfaces: fuzz/fuzz_from_bytes.cpp (loading
#      saved registers, from fuzz/corpus_from_bytes), fuzz/fuzz_reader.cpp
#      (circuit text, from fuzz/corpus_reader), fuzz/fuzz_instrument.cpp
#      (Pauli product text, stabilizer text and graphs, from
#      fuzz/corpus_instrument), fuzz/fuzz_frames.cpp (the frame sampler
#      on the texts the reader accepts, from fuzz/corpus_reader) and
#      fuzz/fuzz_shot_data.cpp (the shot data writer, from
#      fuzz/corpus_shot_data).  Their reports follow in that order once
#      all have ended; every failing run is reported with the inputs it
#      saved in build/fuzz-artifacts.
# Optionally (--python-asan, or HARDENING_PYTHON_ASAN=1):
#   3. the Python test suite against a sanitized build of the module.
#
# Environment:
#   FUZZ_SECONDS   length of the fuzzing run of the register core (default 60)
#   FUZZ_FROM_BYTES_SECONDS  length of the saved-register fuzzing run (default 30)
#   FUZZ_READER_SECONDS  length of the circuit reader's fuzzing run (default 30)
#   FUZZ_INSTRUMENT_SECONDS  length of the product/stabilizer/graph input run (default 30)
#   FUZZ_FRAMES_SECONDS  length of the frame sampler's fuzzing run (default 30)
#   FUZZ_SHOT_DATA_SECONDS  length of the shot data writer's fuzzing run (default 20)
#   FUZZ_OOM       allocation failure injection in the fuzzer: 0, 1 (default), strict
#   JOBS           parallel build and test jobs, and fuzzing runs at a time (default 2)
#
# Meant for a Debian 12 machine, run as root (or with sudo for the packages).
# Exits non-zero when anything fails; ends with a line "hardening: N passed, N failed".
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_FROM_BYTES_SECONDS=${FUZZ_FROM_BYTES_SECONDS:-30}
FUZZ_READER_SECONDS=${FUZZ_READER_SECONDS:-30}
FUZZ_INSTRUMENT_SECONDS=${FUZZ_INSTRUMENT_SECONDS:-30}
FUZZ_FRAMES_SECONDS=${FUZZ_FRAMES_SECONDS:-30}
FUZZ_SHOT_DATA_SECONDS=${FUZZ_SHOT_DATA_SECONDS:-20}
FUZZ_OOM=${FUZZ_OOM:-1}
PYTHON_ASAN=${HARDENING_PYTHON_ASAN:-0}
for argument in "$@"; do
  case $argument in
    --python-asan) PYTHON_ASAN=1 ;;
    *) echo "unknown argument: $argument" >&2; exit 2 ;;
  esac
done
export DEBIAN_FRONTEND=noninteractive

BUILD=$ROOT/build
LOG_DIR=$BUILD/logs
mkdir -p "$LOG_DIR"
START=$SECONDS
PASSED=0

section() { printf '\n==== %s ====\n' "$*"; }

quietly() {
  local name=$1
  shift
  if ! "$@" >"$LOG_DIR/$name.log" 2>&1; then
    echo "FAILED: $*" >&2
    tail -n 100 "$LOG_DIR/$name.log" >&2
    return 1
  fi
}

# --- tools ---------------------------------------------------------------------

# libFuzzer needs clang with its runtime; clang 15 or newer, since the core
# uses std::source_location, which the libstdc++ headers offer clang only
# from version 15 on.
CLANG_VERSION=16
CLANGXX=clang++-$CLANG_VERSION
section "Tools"
need=()
command -v "$CLANGXX" >/dev/null || need+=("clang-$CLANG_VERSION")
# llvm-N brings llvm-symbolizer-N, for readable sanitizer reports.
command -v "llvm-symbolizer-$CLANG_VERSION" >/dev/null || need+=("llvm-$CLANG_VERSION")
dpkg-query -W -f='${Status}' "libclang-rt-$CLANG_VERSION-dev" 2>/dev/null | grep -q "ok installed" ||
  need+=("libclang-rt-$CLANG_VERSION-dev")
dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "ok installed" || need+=(libgtest-dev)
command -v ninja >/dev/null || need+=(ninja-build)
command -v cmake >/dev/null || need+=(cmake)
if ((${#need[@]})); then
  SUDO=()
  if [[ $(id -u) != 0 ]]; then SUDO=(sudo); fi
  echo "installing: ${need[*]}"
  quietly hardening-apt-update "${SUDO[@]}" apt-get update -q
  quietly hardening-apt-install "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
else
  echo "all present"
fi

# Reports stop the program at the first finding; symbolized stacks.
SYMBOLIZER=$(command -v "llvm-symbolizer-$CLANG_VERSION" || command -v llvm-symbolizer || true)
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [[ -n $SYMBOLIZER ]]; then export ASAN_SYMBOLIZER_PATH=$SYMBOLIZER; fi

# --- 1. sanitized unit tests ---------------------------------------------------

section "C++ unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
t0=$SECONDS
# One sanitized build serves the unit tests and the fuzz targets (below):
# the core is compiled once, with clang's sanitizers and libFuzzer's
# coverage instrumentation, which the unit tests do not mind.
quietly fuzz-configure env CXX="$CLANGXX" cmake -S . -B "$BUILD/fuzz" -G Ninja \
  -DORDAVINE_SANITIZE=ON -DORDAVINE_BUILD_FUZZ=ON -DORDAVINE_BUILD_MODULE=OFF \
  -DORDAVINE_BUILD_TESTS=ON
quietly fuzz-build cmake --build "$BUILD/fuzz" -j "$JOBS"
set +e
ctest --test-dir "$BUILD/fuzz" --output-on-failure --no-tests=error -j "$JOBS" >"$LOG_DIR/asan-ctest.log" 2>&1
status=$?
set -e
tail -n 3 "$LOG_DIR/asan-ctest.log"
if ((status != 0)); then
  grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$LOG_DIR/asan-ctest.log" >&2 || true
  echo "sanitized unit tests failed" >&2
  echo "hardening: $PASSED passed, 1 failed"
  exit 1
fi
# "100% tests passed out of N" (older ctest: "..., 0 tests failed out of N").
count=$(sed -n -E 's/^100% tests passed.* out of ([0-9]+).*/\1/p' "$LOG_DIR/asan-ctest.log")
PASSED=$((PASSED + ${count:-0}))
echo "sanitized unit tests: ${count:-?} passed in $((SECONDS - t0)) s"

# --- 2. bounded fuzzing runs --------------------------------------------------

# Every target runs for its own length from its committed seed corpus, which
# is only read: new inputs go to a scratch folder of the target's own, its
# output to its own log, failing inputs to $ARTIFACTS under its name.  The
# runs share nothing, so JOBS of them run at a time, the longest first;
# their reports follow in the order below once the last one has ended.
# (The fuzz targets were built with the sanitized unit tests above.)
ARTIFACTS=$BUILD/fuzz-artifacts
mkdir -p "$ARTIFACTS"
# Fake stacks for use-after-return detection slow every C++ throw (and the
# fuzzers throw on every rejected input) for no gain here: nothing in the
# core returns the address of a local.
FUZZ_ASAN_OPTIONS=$ASAN_OPTIONS:detect_stack_use_after_return=0

declare -a FUZZ_RUNS=()
declare -A FUZZ_LENGTH=() FUZZ_CORPUS=() FUZZ_WHAT=() FUZZ_ENV=()

# fuzz_run TARGET SECONDS CORPUS DESCRIPTION [NAME=VALUE...]: adds a bounded
# run of TARGET from seed corpus CORPUS, with the given environment.
fuzz_run() {
  local target=$1
  FUZZ_RUNS+=("$target")
  FUZZ_LENGTH[$target]=$2
  FUZZ_CORPUS[$target]=$3
  FUZZ_WHAT[$target]=$4
  shift 4
  FUZZ_ENV[$target]="$*"
}

fuzz_run ordavine_fuzz "$FUZZ_SECONDS" fuzz/corpus "the register core" ORDAVINE_FUZZ_OOM="$FUZZ_OOM"
fuzz_run ordavine_fuzz_from_bytes "$FUZZ_FROM_BYTES_SECONDS" fuzz/corpus_from_bytes \
  "loading saved registers"
fuzz_run ordavine_fuzz_reader "$FUZZ_READER_SECONDS" fuzz/corpus_reader "the circuit reader"
fuzz_run ordavine_fuzz_instrument "$FUZZ_INSTRUMENT_SECONDS" fuzz/corpus_instrument \
  "Pauli products, stabilizer text and graphs"
fuzz_run ordavine_fuzz_frames "$FUZZ_FRAMES_SECONDS" fuzz/corpus_reader "the frame sampler"
fuzz_run ordavine_fuzz_shot_data "$FUZZ_SHOT_DATA_SECONDS" fuzz/corpus_shot_data \
  "the shot data writer"

# start_fuzzing TARGET: the run in the background.  It leaves its exit status
# and its length in seconds in $LOG_DIR/TARGET.status, and a stamp older than
# any failing input it saves in $LOG_DIR/TARGET.started.
start_fuzzing() {
  local target=$1
  local scratch=$BUILD/$target-corpus log=$LOG_DIR/$target.log
  mkdir -p "$scratch"
  rm -f "$LOG_DIR/$target.status"
  touch "$LOG_DIR/$target.started"
  (
    begun=$SECONDS
    status=0
    # FUZZ_ENV holds NAME=VALUE words without blanks: split on purpose.
    # shellcheck disable=SC2086
    env ${FUZZ_ENV[$target]} ASAN_OPTIONS="$FUZZ_ASAN_OPTIONS" \
      "$BUILD/fuzz/fuzz/$target" -max_total_time="${FUZZ_LENGTH[$target]}" -timeout=30 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$target-" \
      "$scratch" "${FUZZ_CORPUS[$target]}" >"$log" 2>&1 || status=$?
    echo "$status $((SECONDS - begun))" >"$LOG_DIR/$target.status"
  ) &
}

# report_fuzzing TARGET: the run's statistics, and on a failure what it
# found: the log's report of it and every input it saved.  Fails then.
report_fuzzing() {
  local target=$1 what=${FUZZ_WHAT[$1]} log=$LOG_DIR/$1.log
  local status=missing took=? crash
  section "libFuzzer: ${FUZZ_LENGTH[$target]} s on $what"
  if [[ -f $LOG_DIR/$target.status ]]; then read -r status took <"$LOG_DIR/$target.status"; fi
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
  if [[ $status == 0 ]]; then
    echo "fuzzing $what: no failure in $took s"
    return 0
  fi
  grep -E -A40 'fuzz check failed|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error' "$log" |
    head -n 80 >&2 || tail -n 60 "$log" >&2
  while IFS= read -r crash; do
    echo "failing input: $crash" >&2
    echo "  bytes: $(od -An -tx1 -v "$crash" | tr -s ' \n' ' ' | head -c 2000)" >&2
    echo "  replay: $BUILD/fuzz/fuzz/$target $crash" >&2
  done < <(find "$ARTIFACTS" -maxdepth 1 -type f -name "$target-*" -newer "$LOG_DIR/$target.started" | sort)
  echo "fuzzing $what found a failure (exit status $status; log $log)" >&2
  return 1
}

# The longest first (a stable sort: equal lengths keep the order above), so
# that the short runs fill the slots while it goes on.
mapfile -t by_length < <(for target in "${FUZZ_RUNS[@]}"; do
  echo "${FUZZ_LENGTH[$target]} $target"
done | sort -s -k1,1nr | cut -d' ' -f2)
slots=$((JOBS > 0 ? JOBS : 1))
section "libFuzzer: ${#FUZZ_RUNS[@]} runs, $slots at a time"
for target in "${by_length[@]}"; do
  while (($(jobs -rp | wc -l) >= slots)); do wait -n || true; done
  echo "started: ${FUZZ_LENGTH[$target]} s on ${FUZZ_WHAT[$target]}"
  start_fuzzing "$target"
done
wait
FAILED=0
for target in "${FUZZ_RUNS[@]}"; do
  if report_fuzzing "$target"; then
    PASSED=$((PASSED + 1))
  else
    FAILED=$((FAILED + 1))
  fi
done
if ((FAILED)); then
  echo "hardening: $PASSED passed, $FAILED failed"
  exit 1
fi

# --- 3. Python tests against the sanitized module (optional) -----------------------

if [[ $PYTHON_ASAN == 1 ]]; then
  section "Python tests against the sanitized module"
  t0=$SECONDS
  venv=$BUILD/venv-asan
  python3 -m venv "$venv"
  quietly asan-pip-tools "$venv/bin/python" -m pip install pytest numpy hypothesis stim
  quietly asan-pip-module "$venv/bin/python" -m pip install --force-reinstall --no-deps \
    -C cmake.define.ORDAVINE_SANITIZE=ON -C build-dir="$BUILD/module-asan" .
  # The sanitizer runtimes must come first in the process; the interpreter's
  # own allocations at exit are not the module's leaks.  Out-of-memory tests
  # are left out: the sanitizer ends the process on an allocation it cannot
  # serve instead of letting std::bad_alloc reach the module.  So are the
  # benchmark smoke test's timings.
  preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
  set +e
  LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider \
    -k "not out_of_memory and not beyond_the_address_space and not bench" 2>&1 | tee "$LOG_DIR/pytest-asan.log" | tail -n 5
  status=${PIPESTATUS[0]}
  set -e
  if ((status != 0)); then
    echo "Python tests against the sanitized module failed" >&2
    echo "hardening: $PASSED passed, 1 failed"
    exit 1
  fi
  count=$(grep -oE '[0-9]+ passed' "$LOG_DIR/pytest-asan.log" | tail -n 1 | grep -oE '[0-9]+' || echo 0)
  PASSED=$((PASSED + count))
  echo "Python tests under the sanitizers: $count passed in $((SECONDS - t0)) s"
fi

section "Hardening summary"
echo "time: $((SECONDS - START)) s"
echo "hardening: $PASSED passed, 0 failed"
