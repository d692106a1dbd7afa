#!/bin/busybox sh
# Runs inside the test VM (as /bin/tcmu-updates): serves the emulated drive to
# the kernel through the TCM-User backstore behind the loopback fabric, so that
# sr and sg attach to it as to a real drive, and updates it once per transfer
# protocol with the tslflash build whose package is made for it
# (/bin/tslflash-P), through SG_IO. Prints PASS/FAIL lines, each run's
# device-side log and a table; exits nonzero on any failure.
status=0
check() { if [ "$2" = yes ]; then echo "PASS $1"; else echo "FAIL $1"; status=1; fi; }

core=/sys/kernel/config/target/core/user_0/drive
loop=/sys/kernel/config/target/loopback/naa.5001405000000001/tpgt_1

# describe PROTOCOL: drive B of the internal drives, which every protocol's
# package fits, with what that protocol needs of the drive.
describe() {
  case $1 in
    2) more='"bufferSizeKiB": 2048, ' ;;
    4) more='"bankSize": 131072, ' ;;
    *) more= ;;
  esac
  echo "{\"drives\": [{$more\"vendor\": \"VARN\", \"product\": \"DVD RW LPX-407A\", \"revision\": \"1.00\",
    \"medium\": \"absent\", \"enclosure\": \"VARN      VR\", \"activatesAs\": \"1.50\",
    \"activation\": \"atOnce\"}]}" >/tmp/drive-$1.json
}

# serve NAME: the device's handler for /tmp/drive-NAME.json, its log in
# /tmp/device-NAME.log; returns once it has the ring.
serve() {
  /bin/tcmu-drive /tmp/drive-$1.json /tmp/device-$1.log /tmp/received-$1.bin >/tmp/handler-$1.out 2>&1 &
  handler=$!
  for i in $(seq 100); do grep -q TCMU-DRIVE-READY /tmp/handler-$1.out && return 0; sleep 0.1; done
  cat /tmp/handler-$1.out
  return 1
}
unserve() { kill $handler && wait $handler; }

# cdbs FILE FIELDS: each command's first ten CDB bytes (all the target passes
# of a vendor command), data direction and length, one line each, from lines
# whose CDB starts after FIELDS fields.
cdbs() {
  awk -v skip="$2" '{
    line = ""; n = 0
    for (i = skip + 1; i <= NF; i++) {
      if ($i ~ /^(ToDrive|FromDrive|NoData)$/) { line = line " " $i " " $(i + 1); break }
      if (n++ < 10) line = line " " $i
    }
    print substr(line, 2)
  }' "$1"
}

mkdir -p $core
echo -n dev_config=tslflash/drive >$core/control
echo 1 >$core/enable
describe 0
cp /tmp/drive-0.json /tmp/drive-scan.json
serve scan || check tcmu-handler-ready no
# The nexus first: linking the LUN scans it, and the scan needs the nexus.
mkdir -p $loop/lun/lun_0
echo naa.5001405000000002 >$loop/nexus
ln -s $core $loop/lun/lun_0/drive
for i in $(seq 100); do [ -e /dev/sr0 ] && [ -e /dev/sg0 ] && break; sleep 0.1; done
unserve
echo "device log of the scan:"
sed 's/^/  /' /tmp/device-scan.log
[ -e /dev/sr0 ] && [ -e /dev/sg0 ] && attached=yes || attached=no
check tcmu-drive-attached-as-sr0-and-sg0 $attached
head -n1 /tmp/device-scan.log | grep -q '^12 ' && inquiry=yes || inquiry=no
check tcmu-scan-inquiry-reached-drive $inquiry
grep -q '^VARN' /sys/block/sr0/device/vendor 2>/dev/null && identity=yes || identity=no
check tcmu-kernel-sees-drive-identity $identity

rows=
for protocol in 0 1 2 3 4; do
  describe $protocol
  serve $protocol || check tcmu-handler-ready-$protocol no
  started=$(date +%s)
  # A history of its own: each run meets the drive as new. A run takes some
  # 10 s; one that hangs ends at its time-out with the status 143.
  mkdir -p /tmp/home-$protocol
  HOME=/tmp/home-$protocol timeout 60 /bin/tslflash-$protocol --terminal --select 1 --upgrade \
    --yes --non-interactive --report /tmp/report-$protocol.txt </dev/null >/tmp/out-$protocol.txt 2>&1
  rc=$?
  seconds=$(($(date +%s) - started))
  unserve
  sed "s/^/tslflash-$protocol: /" /tmp/out-$protocol.txt
  echo "device log of protocol $protocol:"
  sed 's/^/  /' /tmp/device-$protocol.log
  cmp -s /tmp/received-$protocol.bin /image.bin && same=yes || same=no
  grep '^[0-9][0-9]:[0-9][0-9]:[0-9.]* /dev/sr0 ' /tmp/report-$protocol.txt >/tmp/sent-$protocol.txt
  cdbs /tmp/sent-$protocol.txt 2 >/tmp/sent-$protocol.cdbs
  cdbs /tmp/device-$protocol.log 0 >/tmp/received-$protocol.cdbs
  # The tool's commands in the device's log, in order. The rest are listed:
  # the kernel's own, such as the media check each open of /dev/sr0 makes
  # (GET EVENT STATUS NOTIFICATION and TEST UNIT READY).
  set -- $(awk 'BEGIN { n = 0; j = 0 }
    NR == FNR { sent[n++] = $0; next }
    j < n && $0 == sent[j] { j++; next }
    { others++; print "  received, not sent by the tool: " $0 > "/dev/stderr" }
    END { print (n > 0 && j == n ? "yes" : "no"), others + 0 }' \
    /tmp/sent-$protocol.cdbs /tmp/received-$protocol.cdbs)
  arrived=$1 others=$2
  check "tcmu-protocol-$protocol-tool-commands-arrived-in-order" $arrived
  # The target passes ten bytes of a vendor command: where the tool's carry
  # more (page numbers and counts in bytes 10 and 11), the drive cannot take
  # them, and the run must end as a failure that claims nothing.
  awk '$3 ~ /^[C-F]/ && ($13 $14) ~ /^[0-9A-F]+$/ && ($13 $14) != "0000" { cut = 1 }
    END { exit !cut }' /tmp/sent-$protocol.txt && cut=yes || cut=no
  if [ $cut = no ]; then
    [ $rc -eq 0 ] && [ $same = yes ] && ok=yes || ok=no
    check "tcmu-protocol-$protocol-updated rc=$rc" $ok
  else
    [ $rc -ne 0 ] && [ ! -e /tmp/received-$protocol.bin ] &&
      ! grep -q 'SUCCEED\|updated successfully' /tmp/out-$protocol.txt && ok=yes || ok=no
    check "tcmu-protocol-$protocol-cut-commands-failed-claiming-nothing rc=$rc" $ok
  fi
  rows="$rows$(printf '%-9s %-5s %-5s %-16s %-22s %-7s %s' $protocol $rc ${seconds}s $same \
    $arrived $others $cut)
"
done

# "tool's commands equal": every command the tool logged reached the drive,
# in order, with the same CDB (its first ten bytes), direction and length;
# "others": what the drive received besides.
echo "TABLE protocol  exit  time  image identical  tool's commands equal  others  CDB bytes 10-11 lost"
printf '%s' "$rows" | sed 's/^/TABLE /'
exit $status
