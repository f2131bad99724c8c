#!/usr/bin/env bash
# scripts/package.sh on a machine that has nothing but the clone: it installs what it needs before
# it builds anything. The package manager and the build tools are stand-ins that only record how
# they were called, so nothing is installed or built.
#   fresh_machine.sh <source folder>
set -uo pipefail

src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" "$tmp/build"
calls=$tmp/calls

# Nothing is installed; the caller is root.
printf '#!/bin/sh\nexit 1\n' >"$tmp/bin/dpkg-query"
printf '#!/bin/sh\necho 0\n' >"$tmp/bin/id"
for tool in apt-get cmake cpack; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$calls" >"$tmp/bin/$tool"
done
# What cpack would leave behind.
printf 'touch taskvane_0_amd64.deb\n' >>"$tmp/bin/cpack"
chmod +x "$tmp/bin"/*

PATH="$tmp/bin:$PATH" TASKVANE_PACKAGE_DIR="$tmp/build" bash "$src/scripts/package.sh" >"$tmp/out" 2>&1
status=$?
cat "$tmp/out"
touch "$calls"
echo "calls:"
cat "$calls"

. "$(dirname "$0")/packagelib.sh"
first_install=$(grep -n '^apt-get install .* cmake\( \|$\)' "$calls" | head -n1 | cut -d: -f1)
first_cmake=$(grep -n '^cmake ' "$calls" | head -n1 | cut -d: -f1)
check "succeeds" [ "$status" -eq 0 ]
check "installs cmake" [ -n "$first_install" ]
before=0
if [ -n "$first_install" ] && [ -n "$first_cmake" ] && [ "$first_install" -lt "$first_cmake" ]; then
  before=1
fi
check "installs before it builds" [ "$before" -eq 1 ]
check "builds the package" grep -q '^cpack -G DEB' "$calls"

[ "$failed" -eq 0 ]
