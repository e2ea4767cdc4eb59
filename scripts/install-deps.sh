#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# asking apt only for those that are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  iproute2
  gsoap libgsoap-dev
  qt6-base-dev fonts-liberation fonts-noto-cjk
  xvfb xauth
  xdotool libx11-dev
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] && sudo="" || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
