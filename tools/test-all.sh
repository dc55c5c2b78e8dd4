#!/usr/bin/env bash
# The whole test suite: an optimised build and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each built and tested; any failure or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

echo "== optimised build =="
run_suite build/release Release
echo "== sanitizer build (address, undefined) =="
run_suite build/sanitize RelWithDebInfo -DQUENZEL_SANITIZE=ON
tools/fuzz.sh
