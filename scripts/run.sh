#!/usr/bin/env bash
# Builds the program in build-run/ and runs it: scripts/run.sh [FILE]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/deps.sh run

cmake -S . -B build-run -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARNWICK_TESTS=OFF \
  -DTARNWICK_BENCH=OFF
cmake --build build-run --target tarnwick

exec "$root/build-run/tarnwick" "$@"
