#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a release tree (no sanitizers, no tests) and runs the benchmark
# qo3964_bench in it; every argument goes to qo3964_bench, for example
#   scripts/bench.sh --quick
#   scripts/bench.sh --csv bench.csv
# The build tree is build/bench, or $QO3964_BENCH_BUILD_DIR.
# Other work on the machine makes the figures noisy: run it on a quiet one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QO3964_BENCH_BUILD_DIR:-$PWD/build/bench}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQO3964_BUILD_TESTS=OFF -DQO3964_SANITIZE=OFF \
  -DQO3964_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j "$(nproc)" --target qo3964_bench qo3964_server > /dev/null
exec "$build/bin/qo3964_bench" "$@"
