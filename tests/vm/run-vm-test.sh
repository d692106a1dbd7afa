#!/bin/bash
# Boots a small VM whose kernel offers a scsi_debug CD/DVD device and runs the
# static guest program built from the tool's transport inside it. Prints
# 'N passed, N failed' and exits nonzero on any failure. The guest also times
# the transport's WRITE BUFFER chunks against sg_write_buffer; those figures go
# to WORK_DIR/sg-io-bench.txt for the benchmark table. A fourth VM serves the
# emulated drive to its kernel through the TCM-User backstore and updates it
# once per transfer protocol (tcmu-updates.sh).
#   run-vm-test.sh GUEST_BINARY TSLFLASH_BINARY REAL_PACKAGE_TSLFLASH TCMU_DIR [WORK_DIR]
# (all linked statically; the first tslflash carries the sample package, the
# second a package made for scsi_debug's drive; TCMU_DIR holds tcmu-drive, the
# image image.bin and tslflash-0 ... tslflash-4, each carrying a package of
# that image for the served drive in that protocol)
set -euo pipefail

guest_binary=$(realpath "$1")
tool_binary=$(realpath "$2")
real_tool_binary=$(realpath "$3")
tcmu=$(realpath "$4")
work=${5:-$(mktemp -d)}
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"

fetch_kernel() {
  # The kernel package's name changes with each ABI bump: resolve it, never pin it.
  local package
  package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$package" ] || { echo "no kernel package found" >&2; return 1; }
  if [ ! -d "$work/kernel" ]; then
    (cd "$work" && apt-get download "$package" >/dev/null)
    dpkg-deb -x "$work"/"$package"_*.deb "$work/kernel"
  fi
}

build_initramfs() {
  local root=$work/root modules
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,etc,proc,sys,tmp,modules}
  cp /bin/busybox "$root/bin/busybox"
  cp "$guest_binary" "$root/bin/guest-test"
  cp "$tool_binary" "$root/bin/tslflash"
  cp "$real_tool_binary" "$root/bin/tslflash-real"
  # The peer is linked dynamically: its libraries and loader go where it looks.
  local peer file
  peer=$(command -v sg_write_buffer)
  cp "$peer" "$root/bin/sg_write_buffer"
  for file in $(ldd "$peer" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$file")"
    cp -L "$file" "$root$file"
  done
  modules=$(echo "$work"/kernel/lib/modules/*/kernel)
  # A disc with a filesystem to mount: a small romfs written onto the medium.
  mkdir -p "$work/medium"
  echo "a file on the disc" >"$work/medium/readme.txt"
  genromfs -f "$root/medium.romfs" -d "$work/medium" -V tslmedium
  cp "$modules/drivers/mtd/mtd.ko" "$modules/fs/romfs/romfs.ko" "$root/modules/"
  # Dependencies first: the host has no depmod for this kernel.
  for module in drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_modern_dev \
    drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci drivers/scsi/virtio_scsi \
    drivers/ata/libata drivers/ata/libahci drivers/ata/ahci drivers/scsi/scsi_common drivers/scsi/scsi_mod drivers/cdrom/cdrom \
    drivers/scsi/sr_mod drivers/scsi/sg crypto/crct10dif_common crypto/crct10dif_generic \
    lib/crc-t10dif drivers/scsi/scsi_debug; do
    cp "$modules/$module.ko" "$root/modules/"
  done
  cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs dev /dev
for m in scsi_common scsi_mod cdrom sr_mod sg crct10dif_common crct10dif_generic crc-t10dif; do
  insmod /modules/$m.ko
done
kind=$(sed -n 's/.*tslkind=\([a-z_-]*\).*/\1/p' /proc/cmdline)
if [ "$kind" = tcmu ]; then
  for m in configfs uio target_core_mod target_core_user tcm_loop; do
    insmod /modules/$m.ko
  done
  mount -t configfs configfs /sys/kernel/config
  echo GUEST-START
  /bin/tcmu-updates && echo GUEST-EXIT 0 || echo GUEST-EXIT 1
  poweroff -f
fi
if [ "$kind" != scsi_debug ]; then
  for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_scsi \
    libata libahci ahci; do
    insmod /modules/$m.ko
  done
  for i in $(seq 100); do [ -e /dev/sr0 ] && break; sleep 0.2; done
  echo GUEST-START
  /bin/guest-test empty-tray && echo GUEST-EXIT 0 || echo GUEST-EXIT 1
  poweroff -f
fi
insmod /modules/scsi_debug.ko ptype=5
# The SCSI scan runs asynchronously: wait for the device node.
for i in $(seq 50); do [ -e /dev/sr0 ] && break; sleep 0.2; done
echo GUEST-START
status=0
/bin/guest-test root || status=1
check() { if [ "$2" = yes ]; then echo "PASS $1"; else echo "FAIL $1"; status=1; fi; }
has() { echo "$1" | grep -qF -- "$2" && echo yes || echo no; }
lacks() { echo "$1" | grep -qF -- "$2" && echo no || echo yes; }
upgrade() {
  $1 --terminal --select 1 --upgrade --answer ok --answer ok --non-interactive </dev/null 2>&1
}
echo 'root:x:0:0::/:/bin/sh' >/etc/passwd
echo 'nobody:x:65534:65534::/:/bin/sh' >>/etc/passwd
echo 'nogroup:x:65534:' >/etc/group
# A device node the user may not open is named with the reason.
chmod 600 /dev/sr0
out=$(su nobody -c '/bin/tslflash --terminal --answer ok --answer ok --non-interactive </dev/null' 2>&1)
echo "$out" | sed 's/^/tslflash: /'
check unopenable-node-named "$(has "$out" '/dev/sr0 could not be opened: Permission denied')"
# Without raw-I/O rights: an ordinary user who may open the device.
chmod 666 /dev/sr0
su nobody -c '/bin/guest-test unprivileged' || status=1
out=$(su nobody -c '/bin/tslflash-real --terminal --select 1 --upgrade --answer ok --answer ok --non-interactive </dev/null' 2>&1)
echo "$out" | sed 's/^/tslflash-real: /'
check unprivileged-told-rights "$(has "$out" "Writing firmware needs raw SCSI access (CAP_SYS_RAWIO). Start the tool as root, for example from the desktop menu's administrator entry or with sudo.")"
check unprivileged-never-asked-to-confirm "$(lacks "$out" 'Do you really want to upgrade')"
# The sample package's build on the real device: listed greyed, upgrade refused.
out=$(upgrade /bin/tslflash)
rc=$?
echo "$out" | sed 's/^/tslflash: /'
echo "$out" | grep -q '^ *1\. Linux *scsi_debug.*(not for this package: this build carries a sample package' && listed=yes || listed=no
check terminal-lists-drive-greyed $listed
check sample-build-says-so "$(has "$out" 'This build carries a sample firmware package; it writes only to emulated drives.')"
check sample-build-sends-nothing "$(has "$out" 'it writes only to emulated drives. Nothing was sent to /dev/sr0.')"
[ $rc -eq 4 ] && refused=yes || refused=no
check "terminal-refuses-upgrade rc=$rc" $refused
# Another program holds the drive as the tool does: a second writer is
# refused at once, told who holds it.
/bin/guest-test hold 60 >/tmp/hold.log 2>&1 &
holder=$!
for i in $(seq 50); do grep -q HELD /tmp/hold.log && break; sleep 0.1; done
out=$(upgrade /bin/tslflash-real)
echo "$out" | sed 's/^/tslflash-real: /'
kill $holder
check second-writer-refused "$(has "$out" "The drive /dev/sr0 is in use by another program (guest-test, process $holder); nothing was sent to it.")"
check second-writer-never-asked-to-confirm "$(lacks "$out" 'Do you really want to upgrade')"
# A disc whose filesystem is mounted: the drive is refused before anything is
# sent, whoever holds it.
mkdir -p /mnt
/bin/guest-test fill /medium.romfs && insmod /modules/mtd.ko && insmod /modules/romfs.ko && blockdev --flushbufs /dev/sr0 &&
  mount -t romfs -o ro /dev/sr0 /mnt
grep -q '^/dev/sr0 /mnt romfs' /proc/mounts && mounted=yes || mounted=no
check medium-mounted $mounted
out=$(upgrade /bin/tslflash-real)
echo "$out" | sed 's/^/tslflash-real: /'
umount /mnt
check mounted-disc-refused "$(has "$out" 'The drive /dev/sr0 is in use by another program; nothing was sent to it.')"
check mounted-disc-never-asked-to-confirm "$(lacks "$out" 'Do you really want to upgrade')"
/bin/guest-test bench /bin/sg_write_buffer || status=1
rmmod scsi_debug
insmod /modules/scsi_debug.ko ptype=5 num_tgts=10
for i in $(seq 100); do [ -e /dev/sr9 ] && break; sleep 0.2; done
/bin/guest-test many || status=1
echo GUEST-EXIT $status
poweroff -f
INIT
  chmod +x "$root/init"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initramfs.gz"
  # The TCM-User machine's own files, in an archive of their own that the
  # kernel unpacks after the first: the other machines do without them.
  local extra=$work/tcmu-root
  rm -rf "$extra"
  mkdir -p "$extra"/{bin,modules}
  # The kernel's SCSI target: TCM-User behind the loopback fabric.
  for module in fs/configfs/configfs drivers/uio/uio drivers/target/target_core_mod \
    drivers/target/target_core_user drivers/target/loopback/tcm_loop; do
    cp "$modules/$module.ko" "$extra/modules/"
  done
  cp "$tcmu/tcmu-drive" "$extra/bin/"
  cp "$here/tcmu-updates.sh" "$extra/bin/tcmu-updates"
  cp "$tcmu/image.bin" "$extra/image.bin"
  for protocol in 0 1 2 3 4; do cp "$tcmu/tslflash-$protocol" "$extra/bin/"; done
  (cd "$extra" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) |
    cat "$work/initramfs.gz" - >"$work/initramfs-tcmu.gz"
}

# boot KIND [QEMU DEVICE OPTIONS...]: one VM, its serial log in serial-KIND.log;
# initramfs-KIND.gz is its initramfs where there is one.
boot() {
  local kind=$1 log=$work/serial-$1.log initrd=$work/initramfs-$1.gz
  shift
  [ -f "$initrd" ] || initrd=$work/initramfs.gz
  timeout 120 qemu-system-x86_64 -machine q35,accel=tcg -m 512 -nographic -no-reboot \
    -kernel "$(echo "$work"/kernel/boot/vmlinuz-*)" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1 tslkind=$kind" "$@" </dev/null 2>&1 |
    tr -d '\r' >"$log" || true
  cat "$log" >&2
  # A guest that never finished counts as a failure of its own.
  grep -q '^GUEST-EXIT 0$' "$log" || grep -q '^FAIL ' "$log" || echo "FAIL $kind-guest-did-not-finish" >>"$log"
}

fetch_kernel
build_initramfs
boot scsi_debug
boot scsi-cd -device virtio-scsi-pci,id=scsi -device scsi-cd,bus=scsi.0
boot ide-cd -device ide-cd,bus=ide.2
started=$(date +%s)
boot tcmu
echo "TCM-User VM: $(($(date +%s) - started)) s"
sed -n 's/^TABLE //p' "$work/serial-tcmu.log"
sed -n 's/^BENCH //p' "$work/serial-scsi_debug.log" >"$work/sg-io-bench.txt"
[ -s "$work/sg-io-bench.txt" ] || rm -f "$work/sg-io-bench.txt"
passed=$(cat "$work"/serial-*.log | grep -c '^PASS ' || true)
failed=$(cat "$work"/serial-*.log | grep -c '^FAIL ' || true)
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
