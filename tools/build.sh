#!/usr/bin/env bash
# One entry point for people and CI.
#   tools/build.sh run              install, build, start the tool on emulated drives
#   tools/build.sh test             install, build, run every test
#   tools/build.sh test --sanitize address,undefined
#   tools/build.sh bench [--quick]  install, build, run the benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
shift || true
sanitize=""
quick=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=${2:?--sanitize needs a list, e.g. address,undefined}; shift 2 ;;
    --quick) quick=1; shift ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

bash tools/install-deps.sh

build_dir=build
build_type=RelWithDebInfo
bench=ON
if [ -n "$sanitize" ]; then
  build_dir="build-${sanitize//,/-}"
  build_type=Debug
  # Only the bench mode runs the benchmarks; a sanitizer test build skips them.
  [ "$mode" = bench ] || bench=OFF
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DTSLFLASH_SANITIZE="$sanitize" \
  -DTSLFLASH_BUILD_BENCH="$bench" -DTSLFLASH_WERROR=ON
cmake --build "$build_dir" -j "$(nproc)"

case "$mode" in
  run)
    "$build_dir/app/tslflash" --emulate emulator/drives/demo.json
    ;;
  test)
    ctest --test-dir "$build_dir" --output-on-failure --no-tests=error --timeout 120 -j "$(nproc)"
    ;;
  bench)
    # Every benchmark and tool measurement, one table; --quick runs each once for CI.
    python3 bench/run_all.py "$build_dir" ${quick:+--quick}
    ;;
  *)
    echo "usage: tools/build.sh run|test|bench [--sanitize LIST] [--quick]" >&2
    exit 2
    ;;
esac
