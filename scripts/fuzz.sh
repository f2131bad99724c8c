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
# The build's own lines go to a log, as the other steps keep theirs: shown only when it fails.
echo "fuzz: building ${targets[*]} (log in build-fuzz/build.log)"
if ! cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >build-fuzz/build.log 2>&1; then
  tail -50 build-fuzz/build.log
  echo "fuzz: the build failed (build-fuzz/build.log)"
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# A target fuzzes on one core: as many run side by side as there are cores, each for the full time.
jobs=${TASKVANE_FUZZ_JOBS:-$(nproc)}

fuzz_target() {
  local target=$1 name corpus seeds
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 "$corpus" \
    2>"build-fuzz/$name.log"; then
    echo "fuzz: $name passed"
  else
    return 1
  fi
}

failed=()
running=()
# Waits for the oldest running target and notes a failure.
wait_oldest() {
  local target=${running[0]%%:*} pid=${running[0]#*:}
  running=("${running[@]:1}")
  wait "$pid" || failed+=("$target")
}
for target in build-fuzz/bin/fuzz_*; do
  [ ${#running[@]} -lt "$jobs" ] || wait_oldest
  fuzz_target "$target" &
  running+=("$target:$!")
done
while [ ${#running[@]} -gt 0 ]; do
  wait_oldest
done

for target in "${failed[@]}"; do
  name=$(basename "$target")
  tail -50 "build-fuzz/$name.log"
  echo "fuzz: $name FAILED"
done
[ ${#failed[@]} -eq 0 ]
