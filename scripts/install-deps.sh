#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Taskvane needs.
# Idempotent: does nothing when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libgl-dev libxcb1-dev
  libgcrypt20-dev zlib1g-dev libpng-dev libcurl4-openssl-dev libsystemd-dev
  dbus systemd libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  fonts-wqy-microhei fonts-dejavu-core
  xvfb xauth x11-apps imagemagick
  openbox xdotool x11-utils wmctrl
  qt6-translations-l10n
  shared-mime-info
  dpkg-dev desktop-file-utils file
  # the peers and the harness of bench/side_by_side.py
  htop btop python3
)

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
