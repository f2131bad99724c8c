#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

if [ ! -d tests/fuzz ] || ! ls tests/fuzz/*.cpp >/dev/null 2>&1; then
  echo "fuzz: no targets"
  exit 0
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug \
  -DTASKVANE_FUZZ=ON -DTASKVANE_TESTS=OFF -DTASKVANE_APP=OFF >/dev/null
targets=()
for src in tests/fuzz/*.cpp; do
  targets+=("fuzz_$(basename "$src" .cpp)")
done
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
for target in build-fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 "$corpus" \
    2>build-fuzz/$name.log || { tail -50 build-fuzz/$name.log; echo "fuzz: $name FAILED"; exit 1; }
  echo "fuzz: $name passed"
done
