#!/usr/bin/env bash
# Installs what is missing, then builds the Debian package: a release build of the program and
# the data it ships (no tests, no benchmarks) in build-package/, then CPack's DEB generator.
#   scripts/package.sh            the package goes to build-package/taskvane_<version>_<arch>.deb
# TASKVANE_PACKAGE_DIR moves the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh package

dir=${TASKVANE_PACKAGE_DIR:-build-package}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTASKVANE_TESTS=OFF -DTASKVANE_BENCH=OFF \
  -DTASKVANE_TEST_VARIABLES=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target taskvane taskvane_dictionary
rm -f "$dir"/taskvane_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/taskvane_*.deb
