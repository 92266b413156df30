#!/usr/bin/env bash
# Builds and runs every test: once in an ordinary build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then replays the fuzz
# targets' seed inputs (tests/fuzz/run.sh SECONDS fuzzes for real).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh

jobs=$(nproc)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNI_SANITIZE=ON -DNI_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

NI_FUZZ_BUILD_DIR=build/fuzz tests/fuzz/run.sh 0
