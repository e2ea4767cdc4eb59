#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times:
# plainly (gcc), the threaded parts under ThreadSanitizer, and everything under
# AddressSanitizer + UndefinedBehaviorSanitizer (clang) together with bounded
# fuzzer runs. The last run's CTest summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)

echo "== plain build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure

echo "== ThreadSanitizer build (threaded parts) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNETVANE_TSAN=ON
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L threads

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build, fuzzers =="
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DNETVANE_SANITIZE=ON -DNETVANE_FUZZ=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS="detect_leaks=1 abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure
