#!/usr/bin/env bash
# Installs what building, running and testing Ovra7 Server needs on Debian 12.
# Skips apt-get entirely when everything is already installed.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64
  libcurl4-openssl-dev libusb-1.0-0-dev libudev-dev libsystemd-dev libssl-dev
  socat umockdev xvfb imagemagick fonts-wqy-microhei x11-utils libxtst6
  qt6-base-dev qt6-qpa-plugins libgl-dev libxcb1-dev fonts-noto-cjk trayer xdotool openbox
  python3 python3-gi openssl curl procps dbus-daemon weston qt6-wayland
  nsis lintian appstream debootstrap
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
