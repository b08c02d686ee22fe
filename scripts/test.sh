#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
cd build
ctest --output-on-failure -j"$jobs"
