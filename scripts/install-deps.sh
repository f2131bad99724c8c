#!/usr/bin/env bash
# Installs the Debian packages Taskvane needs. Idempotent: does nothing when they are present.
#   scripts/install-deps.sh            everything: build, run, test, benchmark
#   scripts/install-deps.sh package    only what building the program and its Debian package needs
set -euo pipefail

# Building the program (and its package).
build=(
  build-essential cmake pkg-config lld
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libgl-dev libxcb1-dev
  libgcrypt20-dev zlib1g-dev libpng-dev libcurl4-openssl-dev libsystemd-dev
  dpkg-dev file
)
# Running it, testing it and measuring it.
rest=(
  git dbus systemd libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  fonts-wqy-microhei fonts-dejavu-core
  xvfb xauth x11-apps imagemagick
  openbox xdotool x11-utils wmctrl
  qt6-translations-l10n
  shared-mime-info
  desktop-file-utils
  # the peers and the harness of bench/side_by_side.py
  htop btop python3
)

case "${1:-all}" in
  package) packages=("${build[@]}") ;;
  all) packages=("${build[@]}" "${rest[@]}") ;;
  *)
    echo "usage: $0 [package]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root to install packages" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
