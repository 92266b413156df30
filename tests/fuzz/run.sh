#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one in
# turn for the given number of seconds (default 60), starting from the seed
# corpus in tests/data/fuzz. New inputs collect in build-fuzz/corpus/, crashes
# in build-fuzz/findings/. Exits non-zero when a target finds a fault.
# With 0 seconds each target only replays the seeds: a quick, repeatable check.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
build="${NI_FUZZ_BUILD_DIR:-build-fuzz}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNI_FUZZ=ON -DNI_BUILD_APP=OFF -DNI_BUILD_TESTS=OFF -DNI_BUILD_BENCH=OFF >/dev/null
targets=(note utilities archive)
cmake --build "$build" --target "${targets[@]/#/ni_fuzz_}"

mkdir -p "$build/findings"
status=0
for target in "${targets[@]}"; do
  seeds="tests/data/fuzz/$target"
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "== ni_fuzz_$target for ${seconds}s"
  # One job on one core: the machine is shared.
  limit=(-max_total_time="$seconds")
  [ "$seconds" -gt 0 ] || limit=(-runs=0)
  if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$build/bin/ni_fuzz_$target" \
      "${limit[@]}" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" "$corpus" "$seeds"; then
    echo "ni_fuzz_$target found a fault; see $build/findings/" >&2
    status=1
  fi
done
exit "$status"
