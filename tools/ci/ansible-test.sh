#!/usr/bin/env bash
# The Ansible roll-out (contrib/ansible/rollout.yml) run against this machine
# (ansible_connection=local) as inventory hosts, each with emulated drives and
# a package made here, against the build in build/ (made when missing):
#   1. a host whose drive the package is for, one whose drive it is not for,
#      and one whose drive has newer firmware: the first is updated with the
#      package's image, the others are reported and left alone (a downgrade
#      is not allowed unless asked for), the playbook succeeds;
#   2. a host whose transfer fails listed before an eligible one: the playbook
#      fails and stops there, so the eligible host is not updated.
# Fails when any of that does not hold.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/install-deps.sh --only ansible-core
bash tools/ci/programs-built.sh

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# One line per result, in JSON, so the checks below can read it.
export ANSIBLE_LOCAL_TEMP="$scratch/ansible-tmp" ANSIBLE_REMOTE_TMP="$scratch/ansible-tmp" ANSIBLE_NOCOLOR=1 ANSIBLE_STDOUT_CALLBACK=default \
  ANSIBLE_CALLBACK_RESULT_FORMAT=json ANSIBLE_CALLBACK_FORMAT_PRETTY=false

# A package for the emulated drives' model, made from known image bytes.
build/tools/tslpkg synth --size 131072 --seed 7 -o "$scratch/image.bin"
build/tools/tslpkg build -o "$scratch/package.bin" --image "$scratch/image.bin" \
  --inquiry-id "VARN    DVD RW LPX-650A 1.07" --alt-name-nul TK300B --variant-mark TW \
  --revision-pattern "1.**" --protocol 0 >/dev/null

cat >"$scratch/greyed.json" <<'JSON'
{ "drives": [ { "vendor": "OTHERCO", "product": "CD-RW 52X", "revision": "2.00", "vendorCommands": false } ] }
JSON
python3 - emulator/drives/default.json "$scratch" <<'PYTHON'
import json, sys
def write(name, **changes):
    description = json.load(open(sys.argv[1], encoding="utf-8"))
    description["drives"][0].update(changes)
    json.dump(description, open(f"{sys.argv[2]}/{name}.json", "w", encoding="utf-8"))
write("newer", revision="1.09")
write("failing", faults=[{"kind": "fail", "opcode": "3B", "fromOccurrence": 2, "times": "always"}])
PYTHON

# inventory NAME HOST=DESCRIPTION...: each host on this machine, its received
# images in $scratch/NAME/HOST.
inventory() {
  local name=$1
  shift
  {
    echo "all:"
    echo "  vars:"
    echo "    ansible_connection: local"
    echo "    ansible_python_interpreter: /usr/bin/python3"
    echo "    tslflash_command: $PWD/build/app/tslflash"
    echo "  hosts:"
    for host in "$@"; do
      echo "    ${host%%=*}:"
      echo "      tslflash_args: [--emulate, ${host#*=}, --package, $scratch/package.bin, --skip-waits," \
        "--received-images, $scratch/$name/${host%%=*}]"
    done
  } >"$scratch/$name.yml"
}

# rollout NAME: runs the playbook, its output shown and kept in
# $scratch/NAME.out, its exit status in $status.
rollout() {
  echo "== $1"
  status=0
  ansible-playbook -i "$scratch/$1.yml" contrib/ansible/rollout.yml >"$scratch/$1.out" || status=$?
  cat "$scratch/$1.out"
  echo "== $1: ansible-playbook exit status $status"
}

# judge NAME CHECKS: applies CHECKS (Python) to what the playbook said:
# `said`, host -> the messages of its results in order, and `recap`,
# host -> its counts in the play recap.
judge() {
  python3 - "$scratch/$1.out" "$2" <<'PYTHON'
import json, re, sys
said, recap = {}, {}
for line in open(sys.argv[1], encoding="utf-8"):
    result = re.match(r"(?:ok|changed|fatal): \[(\S+)\](?:: FAILED!)? => (\{.*\})$", line)
    if result and "msg" in json.loads(result[2]):
        msg = json.loads(result[2])["msg"]
        said.setdefault(result[1], []).extend(msg if isinstance(msg, list) else [msg])
    counts = re.match(r"(\S+)\s+: ((?:\w+=\d+\s*)+)$", line)
    if counts:
        recap[counts[1]] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", counts[2])}
exec(sys.argv[2])
PYTHON
}

step_failed() {
  echo "ansible-test: $*" >&2
  exit 1
}

inventory rollout eligible="$PWD/emulator/drives/default.json" greyed="$scratch/greyed.json" \
  newer="$scratch/newer.json"
rollout rollout
judge rollout '
assert said["eligible"] == [
    "drive 1 (VARN    DVD RW LPX-650A 1.02): would update",
    "drive 1 (VARN    DVD RW LPX-650A 1.02): updated; the drive still reports firmware 1.02"
    " until a restart or power cycle"], said["eligible"]
assert said["greyed"] == [
    "drive 1 (OTHERCO CD-RW 52X       2.00): The drive is not allowed to be updated."
    " (the package is for the drive \"VARN    DVD RW LPX-650A\" only)"], said["greyed"]
assert said["newer"] == ["drive 1 (VARN    DVD RW LPX-650A 1.09): left alone: the update would ask to"
                         " confirm older (allow with tslflash_allow_older)"], said["newer"]
assert recap["eligible"]["changed"] == 1, recap
assert recap["greyed"]["changed"] == 0 and recap["newer"]["changed"] == 0, recap
' || step_failed "the roll-out's report is not as expected"
[ "$status" -eq 0 ] || step_failed "the roll-out failed (exit status $status)"
cmp "$scratch/image.bin" "$scratch/rollout/eligible/drive-1.bin" ||
  step_failed "the eligible host did not take the package's image"
for host in greyed newer; do
  [ ! -e "$scratch/rollout/$host/drive-1.bin" ] || step_failed "the $host host's drive was written"
done

inventory stop failing="$scratch/failing.json" eligible="$PWD/emulator/drives/default.json"
rollout stop
judge stop '
assert said["failing"][-1] == "drive 1: not updated, exit status 15: Updating incomplete or" \
    " interrupted!; page write failed on page 2 of 8: check condition, sense 04/44/00", said["failing"]
assert recap["failing"]["failed"] == 1 and recap["eligible"]["changed"] == 0, recap
' || step_failed "the stopped roll-out's report is not as expected"
[ "$status" -eq 2 ] || step_failed "a failed update did not fail the roll-out (exit status $status)"
[ ! -e "$scratch/stop/eligible/drive-1.bin" ] || step_failed "the roll-out went on after a failed update"
echo "ansible-test: the roll-out updated the eligible host, left the others alone and stopped at a failed update"
