#!/usr/bin/env bash
# Builds and runs the cycle's table benchmark (a release build of its own).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench --target cycle_bench >/dev/null
build-bench/bench/cycle/cycle_bench
