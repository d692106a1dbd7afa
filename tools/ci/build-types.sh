#!/usr/bin/env bash
# Builds the program and the tools (no tests or benchmarks, to stay quick) in
# the Release build type with GCC and with clang, warnings as errors. The
# tested build is RelWithDebInfo with GCC. Release adds what a packager's
# plain build meets: GCC at -O3 warns about things -O2 does not, and NDEBUG
# leaves variables that only assertions used. The Debug type is left to the
# sanitizer steps, which build every target at -O0 with GCC and warnings as
# errors; clang's own warnings come from its front end and do not change with
# the optimisation level, so its Release build stands for its Debug one too.
# Fails when any build fails.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/install-deps.sh --clang

status=0
for compiler in g++ clang++; do
  dir="build-types/$compiler-Release"
  echo "== $compiler Release"
  if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$compiler" \
    -DTSLFLASH_BUILD_TESTS=OFF -DTSLFLASH_BUILD_BENCH=OFF -DTSLFLASH_WERROR=ON >/dev/null &&
    cmake --build "$dir" -j "$(nproc)"; }; then
    echo "FAILED: $compiler Release" >&2
    status=1
  fi
done
exit $status
