#!/usr/bin/env bash
# Builds and runs the cycle's table benchmark (a release build of its own).
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=build-bench scripts/build -DCMAKE_BUILD_TYPE=Release -DVALTRASSO_BENCH=ON >/dev/null
build-bench/bench/cycle/cycle_bench
