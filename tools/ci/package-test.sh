#!/usr/bin/env bash
# The Debian package: built from a clean Release build (tools/make-deb.sh),
# checked with lintian, desktop-file-validate and appstreamcli, installed with
# apt-get, then the installed programs run from their installed paths: the
# version, the emulated demo through the terminal front end, and the window on
# a virtual display (docs/installed-window.png). The package is removed again
# unless it was installed before. Fails when any step fails.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/install-deps.sh --only lintian desktop-file-utils appstream
rm -rf build-deb
deb=$(bash tools/make-deb.sh | tail -1)

step() { echo "== $*"; }

step "lintian"
# Only information tags are left: the programs keep their .comment section
# (CPack strips with plain strip).
lintian --fail-on error,warning --info "$deb"

contents=$(mktemp -d)
was_installed=""
dpkg-query -W -f='${Status}' tslflash 2>/dev/null | grep -q "install ok installed" && was_installed=1
cleanup() {
  rm -rf "$contents"
  if [ -z "$was_installed" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 purge -y -qq tslflash >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$contents"

step "desktop-file-validate, appstreamcli validate, polkit action"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
appstreamcli validate --no-net --pedantic "$contents"/usr/share/metainfo/*.metainfo.xml
python3 - "$contents"/usr/share/polkit-1/actions/*.policy <<'PYTHON'
import sys
import xml.etree.ElementTree as tree
action = tree.parse(sys.argv[1]).getroot().find("action")
notes = {a.get("key"): a.text for a in action.findall("annotate")}
assert notes["org.freedesktop.policykit.exec.path"] == "/usr/bin/tslflash", notes
assert notes["org.freedesktop.policykit.exec.allow_gui"] == "true", notes
assert all(d.text == "auth_admin" for d in action.find("defaults")), "every default is auth_admin"
PYTHON
grep -qx "exec pkexec /usr/bin/tslflash \"\$@\"" "$contents"/usr/libexec/tslflash/tslflash-window
grep -qx "Exec=/usr/libexec/tslflash/tslflash-window" "$contents"/usr/share/applications/*.desktop

step "apt-get install $deb"
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "$deb" >/dev/null

step "the installed tslflash --version"
/usr/bin/tslflash --version | tee "$contents/version.txt"
grep -q "^tslflash 1.0.0.7$" "$contents/version.txt"

step "the installed tslflash over the installed demo, in the terminal"
received="$contents/received"
mkdir -p "$received"
/usr/bin/tslflash --terminal --emulate /usr/share/tslflash/demo.json --select 1 --upgrade \
  --answer ok --answer ok --answer ok --non-interactive --skip-waits \
  --received-images "$received" >"$contents/demo.txt"
grep -q "^Done$" "$contents/demo.txt"
test -s "$received/drive-1.bin"
/usr/bin/tslpkg verify --embedded
man -l /usr/share/man/man1/tslflash.1.gz >/dev/null
man -l /usr/share/man/man1/tslpkg.1.gz >/dev/null

step "the installed window on a virtual display"
bash tools/screenshots.sh --installed
