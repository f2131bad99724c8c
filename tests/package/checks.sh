# Sourced by the package tests: check <what> <command...> runs the command, prints "ok: <what>" or
# "FAIL: <what>", and counts the failures in $failed.
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}
