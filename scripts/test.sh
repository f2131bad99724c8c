#!/usr/bin/env bash
# Installs what is missing, builds Taskvane with AddressSanitizer and UBSan and its Debian package,
# and runs the whole test suite headless, then the fuzz targets for a bounded time. Prints what
# each step took at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every step in order: a failed one is named at the end, with those it kept from running.
planned=(deps format layers build tidy package suite)
[ "${TASKVANE_SKIP_FUZZ:-0}" = "1" ] || planned+=(fuzz)
steps=()
current=""
step() {
  local name=$1 start=$SECONDS
  shift
  current=$name
  "$@"
  current=""
  steps+=("$(printf '%-10s %3d min %02d s' "$name" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)))")
}
report() {
  local status=$?
  [ ${#steps[@]} -eq 0 ] || printf 'test.sh: %s\n' "${steps[@]}"
  if [ $status -ne 0 ] && [ -n "$current" ]; then
    local later=() seen=0 name
    for name in "${planned[@]}"; do
      [ $seen -eq 0 ] || later+=("$name")
      [ "$name" != "$current" ] || seen=1
    done
    printf 'test.sh: %-10s failed (status %d)\n' "$current" $status
    [ ${#later[@]} -eq 0 ] || printf 'test.sh: not run: %s\n' "${later[*]}"
  fi
  printf 'test.sh: %-10s %3d min %02d s%s\n' total $((SECONDS / 60)) $((SECONDS % 60)) \
    "$([ $status -eq 0 ] || echo ", failed")"
}
trap report EXIT

step deps bash scripts/install-deps.sh
# The sources as .clang-format wants them, before anything is built.
step format bash scripts/format.sh --check
# No system interface outside platform/, no include that points up the layers.
step layers bash scripts/layers.sh
step build bash scripts/build.sh test
# clang-tidy's findings over the program's own sources, on the build's compile database.
step tidy bash scripts/tidy.sh build-test
# The Debian package, in a release build of its own; the suite checks what it holds.
step package bash scripts/package.sh

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

step suite ctest --test-dir build-test --output-on-failure -j"$(nproc)" --timeout 300

if [ "${TASKVANE_SKIP_FUZZ:-0}" != "1" ]; then
  step fuzz bash scripts/fuzz.sh "${TASKVANE_FUZZ_SECONDS:-60}"
fi
