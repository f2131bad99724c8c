# Shared by the package tests: finding the package and counting checks.

# package_or_skip <folder> <tool...>: sets deb to the package in the folder; exits 77 (skipped)
# when there is none or a tool is missing.
package_or_skip() {
  local dir=$1 tool debs
  shift
  shopt -s nullglob
  debs=("$dir"/taskvane_*.deb)
  if [ ${#debs[@]} -eq 0 ]; then
    echo "SKIP: no package in $dir (scripts/package.sh builds it)"
    exit 77
  fi
  deb=${debs[0]}
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is missing (scripts/install-deps.sh installs it)"
      exit 77
    fi
  done
}

failed=0
check() { # check <what> <command...>
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}
