#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Idempotent: asks apt only for
# packages that are missing.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-qpa-plugins
  googletest libgtest-dev libgmock-dev
  fonts-open-sans xvfb xauth xdotool x11-utils imagemagick
  nginx-light liblnk-utils curl python3 iproute2 util-linux xclip
  libssl-dev openssl
  g++-mingw-w64-x86-64-posix wine64 clang-14 libclang-rt-14-dev
  osslsigncode openssl
  squid apache2-utils strace
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
