#!/usr/bin/env bash
# Builds tslflash and tslpkg into build/ when they are not there, for the CI
# steps that run the programs; CI's first step (`tools/build.sh test`) has
# usually made them already.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ ! -x build/app/tslflash ] || [ ! -x build/tools/tslpkg ]; then
  bash tools/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target tslflash tslpkg -j "$(nproc)"
fi
