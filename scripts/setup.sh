#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vantrell need.
set -euo pipefail
packages=(build-essential cmake pkg-config qt6-base-dev libgl-dev libftdi1-dev libgtest-dev
          fonts-liberation clang libclang-rt-14-dev help2man man-db bsdextrautils ninja-build)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
