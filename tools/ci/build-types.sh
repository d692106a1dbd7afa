#!/usr/bin/env bash
# Builds the program and the tools (no tests or benchmarks, to stay quick) in
# the Release and Debug build types, with GCC and with clang, warnings as
# errors. The tested build is RelWithDebInfo with GCC; other optimisation
# levels and another compiler warn about other things, and a build type that
# fails to compile must not reach a packager. Fails when any build fails.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/install-deps.sh --clang

status=0
for compiler in g++ clang++; do
  for type in Release Debug; do
    dir="build-types/$compiler-$type"
    echo "== $compiler $type"
    if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DCMAKE_CXX_COMPILER="$compiler" \
      -DTSLFLASH_BUILD_TESTS=OFF -DTSLFLASH_BUILD_BENCH=OFF -DTSLFLASH_WERROR=ON >/dev/null &&
      cmake --build "$dir" -j "$(nproc)"; }; then
      echo "FAILED: $compiler $type" >&2
      status=1
    fi
  done
done
exit $status
