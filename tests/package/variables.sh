#!/usr/bin/env bash
# The program of the Debian package that scripts/package.sh built reads none of the variables meant
# for tests and benchmarks: it does not hold their names, and set for it they change nothing. The
# package is unpacked into a temporary folder and its program run from there, headless, with a home
# of its own; only the programs started here are ended. The program keeps its single-instance
# socket in /run/user/<uid>, else in /run/taskvane-0 for root, whatever the environment says: the
# test runs as root in a mount namespace of its own, with an empty /run and /tmp.
#   variables.sh <folder holding taskvane_*.deb>
set -uo pipefail

. "$(dirname "$0")/packagelib.sh"
if [ "${1:-}" != --in-private-mounts ]; then
  package_or_skip "$1" dpkg-deb
  if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || [ ! -d /mnt ]; then
    echo "SKIP: needs root, unshare and /mnt for a /tmp and /run of the test's own"
    exit 77
  fi
  # Installed is not enough: in a plain chroot, where / is no mount point, no mount namespace of the
  # test's own can be had.
  if ! why=$(unshare --mount --propagation private true 2>&1); then
    echo "SKIP: no mount namespace of the test's own here ($why)"
    exit 77
  fi
  exec unshare --mount --propagation private bash "$0" --in-private-mounts "$1"
fi
shift
package_or_skip "$1" dpkg-deb
# The test's own files lie in a file system only this namespace sees; /tmp and /run are empty
# ones, so the program meets no socket of a running instance and leaves none behind.
mount -t tmpfs -o mode=0755 tvtest /mnt || exit 1
tmp=$(mktemp -d /mnt/taskvane-variables.XXXXXX)
dpkg-deb --extract "$deb" "$tmp/root"
mount -t tmpfs -o mode=1777 tvtest /tmp || exit 1
mount -t tmpfs -o mode=0755 tvtest /run || exit 1
mkdir -m 0755 /run/user

started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
program=$tmp/root/usr/bin/taskvane
mkdir -p "$tmp/home" "$tmp/run" "$tmp/dpkg" "$tmp/skins"
chmod 700 "$tmp/run"

# Every variable the test and benchmark builds read, each pointing at a stand-in.
test_only=(
  "TASKVANE_TEST_CLOSE_AFTER_MS=200"
  "TASKVANE_INSTANCE_NAME=first"
  "TASKVANE_DPKG_ADMINDIR=$tmp/dpkg"
  "TASKVANE_SYSTEMD_BUS_ADDRESS=unix:path=$tmp/bus"
  "TASKVANE_HTTP_CONNECT_TO=127.0.0.1:9"
  "TASKVANE_SHARED_DIR=$tmp/skins"
  "TASKVANE_SYSTEM_DIR=$tmp/skins"
  "TASKVANE_RUN_USER_DIR=$tmp/run"
  "TASKVANE_RUN_DIR=$tmp/run"
  "TASKVANE_TEMP_DIR=$tmp/run"
)
for setting in "${test_only[@]}"; do
  name=${setting%%=*}
  check "the program does not hold the name $name" bash -c '! grep -aqF "$1" "$2"' _ "$name" "$program"
done
check "the program holds the name TASKVANE_REGISTRY_DIR, which users set" grep -aqF TASKVANE_REGISTRY_DIR "$program"

run() { # run <output file> <extra settings...>: the packaged program in the background
  local out=$1
  shift
  env -i PATH=/usr/bin:/bin HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/home/.config" \
    XDG_DATA_HOME="$tmp/home/.local/share" XDG_CONFIG_DIRS="$tmp/xdg" TASKVANE_REGISTRY_DIR="$tmp/registry" \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 "$@" "$program" >"$out" 2>&1 &
  started+=($!)
}

# Told to close after 200 ms and to take the name "first", it does neither: it runs on, under the
# name of its user.
run "$tmp/first.out" "${test_only[@]}"
first=$!
socket=/run/taskvane-0/Taskvane_QM-HOLVEN-0
for _ in $(seq 100); do
  [ -S "$socket" ] && break
  sleep 0.1
done
check "the first start holds the name of its user" test -S "$socket"
check "no socket under the name from the environment" test ! -e /run/taskvane-0/first
check "no socket in the folders from the environment" bash -c '[ -z "$(ls -A "$1")" ]' _ "$tmp/run"
sleep 2
check "the first start still runs after its closing time" bash -c 'kill -0 "$1" 2>/dev/null' _ "$first"
check "the first start reported no window as the tests' closing does" bash -c '! grep -q "window title" "$1"' _ \
  "$tmp/first.out"

# A second start under another name from the environment meets the first all the same.
run "$tmp/second.out" "TASKVANE_INSTANCE_NAME=second" "TASKVANE_TEST_CLOSE_AFTER_MS=200"
second=$!
ended=no
for _ in $(seq 100); do
  if ! kill -0 "$second" 2>/dev/null; then
    ended=yes
    break
  fi
  sleep 0.1
done
check "the second start handed over and ended" test "$ended" = yes
if [ "$ended" = yes ]; then
  wait "$second"
  check "the second start ended with 0" test $? -eq 0
fi

[ "$failed" -eq 0 ]
