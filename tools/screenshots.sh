#!/usr/bin/env bash
# The README's pictures, taken over the demo the README runs
# (emulator/drives/demo.json), so they cannot drift from it. The two
# windows' pictures show the dialog after the first drive was updated (made
# to run the new firmware at once: tools/updated-demo-drives.sh), with the
# window's menu open on About and Save report.
#   tools/screenshots.sh              docs/demo-dialog.png from build/ (the Qt
#                                     window), and docs/win32-dialog.png when
#                                     wine and build-windows/ are there
# The installed window's picture shows the dialog after the start-up warning
# was accepted, with the first drive chosen.
#   tools/screenshots.sh --installed  docs/installed-window.png: the window of
#                                     the installed /usr/bin/tslflash over
#                                     /usr/share/tslflash/demo.json
set -euo pipefail
cd "$(dirname "$0")/.."

# The window of the installed program, as a user meets it: a virtual display,
# the keyboard accepting the warning and choosing the first drive.
installed_window() {
  if [ ! -x /usr/bin/tslflash ]; then
    echo "no /usr/bin/tslflash: install the package first (tools/ci/package-test.sh does)" >&2
    exit 2
  fi
  bash tools/install-deps.sh --only xvfb xauth xdotool imagemagick fonts-liberation
  local scratch display xvfb_pid tool_pid window
  scratch=$(mktemp -d)
  display=":$((300 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  for _ in $(seq 100); do  # until the server answers
    xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
  done
  /usr/bin/tslflash --emulate /usr/share/tslflash/demo.json >"$scratch/tool.log" 2>&1 &
  tool_pid=$!
  # shellcheck disable=SC2064  # the ids are known now
  trap "kill $tool_pid $xvfb_pid 2>/dev/null || true; rm -rf '$scratch'" EXIT
  # Each wait is bounded: a window that never shows fails the script.
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Warning$' | head -1)
  xdotool windowfocus --sync "$window" key Return
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Flash Tool' | head -1)
  xdotool windowfocus --sync "$window"
  sleep 1
  xdotool key Down Down  # the tree: the root, then the first drive
  sleep 1
  import -window "$window" docs/installed-window.png
  echo "wrote docs/installed-window.png"
}

if [ "${1:-}" = "--installed" ]; then
  installed_window
  exit 0
fi

bash tools/install-deps.sh
bash tools/install-deps.sh --only xvfb xauth
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target qt_demo_screenshot -j "$(nproc)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
drives=$(bash tools/updated-demo-drives.sh "$scratch")
xvfb-run -a build/tests/qt/qt_demo_screenshot "$drives" docs/demo-dialog.png
echo "wrote docs/demo-dialog.png"
if command -v wine >/dev/null && [ -f build-windows/app/TslFlash.exe ]; then
  bash tools/win32-screenshot.sh
else
  echo "docs/win32-dialog.png left as it is: it needs wine and build-windows/ (tools/ci/windows-test.sh)"
fi
