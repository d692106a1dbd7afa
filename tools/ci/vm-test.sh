#!/bin/bash
# The SG_IO transport against a real kernel: builds the static guest programs,
# boots them in QEMU VMs and runs their checks. Exits nonzero on any failure.
#   bash tools/ci/vm-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-vm}

missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx cpio || missing+=(busybox-static)
# The peer the SG_IO path is timed against inside the guest.
command -v sg_write_buffer >/dev/null || missing+=(sg3-utils)
# The filesystem of the mounted disc the guest refuses to write to.
command -v genromfs >/dev/null || missing+=(genromfs)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Everything linked statically (zlib too): the guest has no shared libraries.
# No optimisation level: GCC 12's -O3 raises a false -Wrestrict in the emulator.
zlib=$(find /usr/lib -name libz.a | head -n1)
configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE= -DTSLFLASH_WITH_QT=OFF -DTSLFLASH_WITH_SDBUS=OFF \
    -DTSLFLASH_BUILD_TESTS=OFF -DTSLFLASH_BUILD_BENCH=OFF -DTSLFLASH_WERROR=ON \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DZLIB_LIBRARY="$zlib" -DZLIB_LIBRARY_RELEASE="$zlib" "$@" >/dev/null
}
configure "$build" -DCMAKE_PROJECT_INCLUDE="$PWD/tests/vm/guest-target.cmake"
cmake --build "$build" -j2 --target tslflash_vm_guest tslflash_tcmu_drive tslflash tslpkg_bootstrap
tslpkg=$build/tools/tslpkg_bootstrap
# The same program carrying a package made for scsi_debug's drive, which it
# may write to real drives (a build with the sample package never does).
real=$build-real-package
mkdir -p "$real"
"$tslpkg" synth --size 131072 --seed 1107 -o "$real/image.bin"
"$tslpkg" build -o "$real/package.bin" --image "$real/image.bin" \
  --tag KOVA --protocol 0 --inquiry-id "Linux   scsi_debug      9999" \
  --alt-name-nul TK300B --variant-mark TW --revision-pattern "****"
configure "$real" -DTSLFLASH_PACKAGE="$real/package.bin"
cmake --build "$real" -j2 --target tslflash
# Once per transfer protocol, a package of one image for the drive the guest
# serves through the kernel's target: drive B of the internal drives, model
# code TX2350. One build tree: each round changes only the embedded package,
# so it compiles one file and links.
tcmu=$build-tcmu
mkdir -p "$tcmu"
cp "$build/tslflash_tcmu_drive" "$tcmu/tcmu-drive"
"$tslpkg" synth --size 131072 --seed 7 -o "$tcmu/image.bin"
for protocol in 0 1 2 3 4; do
  "$tslpkg" build -o "$tcmu/package.bin" --image "$tcmu/image.bin" --protocol $protocol \
    --inquiry-id "*$(printf '%23s' '')1.50" --alt-name-nul TX2350 --variant-mark VR \
    --revision-pattern "1.**"
  [ $protocol -gt 0 ] || configure "$tcmu/build" -DTSLFLASH_PACKAGE="$tcmu/package.bin"
  cmake --build "$tcmu/build" -j2 --target tslflash
  cp "$tcmu/build/app/tslflash" "$tcmu/tslflash-$protocol"
done
status=0
bash tests/vm/run-vm-test.sh "$build/tslflash_vm_guest" "$build/app/tslflash" "$real/app/tslflash" \
  "$tcmu" "$build/vm" || status=$?
echo "VM step: $SECONDS s"
exit $status
