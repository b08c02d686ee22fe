#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the updater needs.
# Idempotent and non-interactive; safe to run on every CI run.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  zlib1g-dev libssl-dev libcurl4-openssl-dev libwxgtk3.2-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core fonts-dejavu-extra
  zip unzip p7zip-full libarchive-tools libzip-dev nlohmann-json3-dev time bc python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -y
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
