#!/usr/bin/env bash
# Sets up, builds and starts Tessaly. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build -j2 --target tessly
exec build/tessly "$@"
