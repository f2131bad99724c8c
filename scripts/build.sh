#!/usr/bin/env bash
# Configures and builds Taskvane.
#   scripts/build.sh [release|test]
#   release: the program in build/ (default)
#   test:    program, tests and benchmarks with AddressSanitizer and UBSan in build-test/
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-release}
jobs=$(nproc)
case "$mode" in
  release)
    dir=build
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKVANE_TESTS=OFF -DTASKVANE_TEST_VARIABLES=OFF >/dev/null
    ;;
  test)
    dir=build-test
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DTASKVANE_SANITIZE=ON \
      -DTASKVANE_TESTS=ON -DTASKVANE_BENCH=ON -DTASKVANE_TEST_VARIABLES=ON >/dev/null
    ;;
  *)
    echo "usage: $0 [release|test]" >&2
    exit 2
    ;;
esac
cmake --build "$dir" -j"$jobs"
