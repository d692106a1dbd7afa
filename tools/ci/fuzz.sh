#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer, checksum comparison off so arbitrary bytes reach
# the layouts behind it) and runs each for a bounded time from its seeds. Any
# crash, sanitizer report, hang or runaway memory fails the run; the input is
# left in build-fuzz/findings/ to be fixed and kept under
# tests/fuzz/TARGET/regressions/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${TSLFLASH_FUZZ_SECONDS:-50}
need=()
command -v clang++-14 >/dev/null || need+=(clang-14)
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get install -y --no-install-recommends "${need[@]}"
fi
bash tools/install-deps.sh

build_dir=${TSLFLASH_FUZZ_DIR:-build-fuzz}
targets=(package drive_description drive_replies)
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DTSLFLASH_FUZZ=ON -DTSLFLASH_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -DTSLFLASH_FUZZ_IGNORE_CHECKSUMS" \
  -DTSLFLASH_WITH_QT=OFF -DTSLFLASH_BUILD_BENCH=OFF -DTSLFLASH_WERROR=ON
cmake --build "$build_dir" -j 2 --target "${targets[@]/%/_fuzz}"

findings="$build_dir/findings"
mkdir -p "$findings"
# Each fuzzer is single-threaded: two run side by side, one on each core, so
# every target still gets a whole core for its time.
fuzz() {
  local target=$1 corpus="$build_dir/corpus/$1"
  mkdir -p "$corpus"
  # The seeds are read, never written; new inputs go to the build's corpus.
  if ! "$build_dir/tests/fuzz/${target}_fuzz" "$corpus" "tests/fuzz/$target/seeds" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/$target-" -print_final_stats=1 >"$findings/$target.log" 2>&1; then
    echo "FINDING in ${target}_fuzz: see $findings/" >>"$findings/$target.log"
    return 1
  fi
}
status=0
pending=("${targets[@]}")
while [ ${#pending[@]} -gt 0 ]; do
  batch=("${pending[@]:0:2}")
  pending=("${pending[@]:2}")
  pids=()
  for target in "${batch[@]}"; do
    echo "== ${target}_fuzz for ${seconds} s"
    fuzz "$target" &
    pids+=($!)
  done
  for i in "${!batch[@]}"; do
    # A finding prints its whole log, a clean run its final statistics.
    if wait "${pids[$i]}"; then
      tail -n 12 "$findings/${batch[$i]}.log"
    else
      cat "$findings/${batch[$i]}.log"
      status=1
    fi
  done
done
[ $status -eq 0 ] || echo "fuzz: a target found a crash, a leak or a hang; see $findings/" >&2
exit $status
