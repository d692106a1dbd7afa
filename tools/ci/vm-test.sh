#!/bin/bash
# The SG_IO transport against a real kernel: builds the static guest program,
# boots it in a QEMU VM and runs its checks. Exits nonzero on any failure.
#   bash tools/ci/vm-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-vm}

missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx cpio || missing+=(busybox-static)
# The peer the SG_IO path is timed against inside the guest.
command -v sg_write_buffer >/dev/null || missing+=(sg3-utils)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Everything linked statically (zlib too): the guest has no shared libraries.
# No optimisation level: GCC 12's -O3 raises a false -Wrestrict in the emulator.
zlib=$(find /usr/lib -name libz.a | head -n1)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DTSLFLASH_WITH_QT=OFF \
  -DTSLFLASH_BUILD_TESTS=OFF -DTSLFLASH_BUILD_BENCH=OFF -DTSLFLASH_WERROR=ON \
  -DCMAKE_EXE_LINKER_FLAGS=-static \
  -DZLIB_LIBRARY="$zlib" -DZLIB_LIBRARY_RELEASE="$zlib" \
  -DCMAKE_PROJECT_INCLUDE="$PWD/tests/vm/guest-target.cmake" >/dev/null
cmake --build "$build" -j2 --target tslflash_vm_guest tslflash
bash tests/vm/run-vm-test.sh "$build/tslflash_vm_guest" "$build/app/tslflash" "$build/vm"
