#!/usr/bin/env bash
# Formats the C++ sources with .clang-format; with --check changes nothing and fails when a file
# differs, listing the files.
set -euo pipefail
cd "$(dirname "$0")/.."

tool=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$tool" ]; then
  echo "format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

mapfile -d '' files < <(find platform dataaccess dictdb sysinfo skin ui resources tests bench \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

if [ "${1:-}" = "--check" ]; then
  mapfile -t bad < <(printf '%s\0' "${files[@]}" | xargs -0 -P "$(nproc)" -I{} \
    sh -c '"$0" --style=file "$1" | cmp -s - "$1" || echo "$1"' "$tool" {} | sort)
  if [ ${#bad[@]} -ne 0 ]; then
    echo "format: these files differ from .clang-format (run scripts/format.sh):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
  fi
  echo "format: ${#files[@]} files as .clang-format wants them"
else
  printf '%s\0' "${files[@]}" | xargs -0 -n 32 -P "$(nproc)" "$tool" --style=file -i
fi
