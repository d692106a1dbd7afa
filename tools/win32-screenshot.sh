#!/usr/bin/env bash
# Takes docs/win32-dialog.png: TslFlash.exe of the Windows build under wine,
# on a virtual X display and in a wine prefix of its own, over the demo's
# emulated drives, the first made to run the new firmware at once
# (tools/updated-demo-drives.sh). The keyboard plays the user: it accepts the
# start-up warning, chooses the first drive, presses Upgrade, confirms the
# update and declines the restart, then opens the system menu, so the picture
# shows the revision the drive reports, in the tree and at the end of the
# log, and the menu's About and Save report items.
#   tools/win32-screenshot.sh [BUILD_DIR]    (default: build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-windows}
exe="$build_dir/app/TslFlash.exe"
if [ ! -f "$exe" ]; then
  echo "no $exe: build the Windows tree first (tools/ci/windows-test.sh)" >&2
  exit 2
fi
# xdotool types for the user; fonts-wine has the fonts of the title bar's
# buttons and of the message boxes.
missing=()
for package in xdotool fonts-wine; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

scratch=$(mktemp -d)
display=":$((200 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display" WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
# This wine build does not find fonts-wine's fonts by itself.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# A wine desktop of its own draws the title bars, which an X server without a
# window manager would leave off. The dialog opens in its top left corner.
drives=$(bash tools/updated-demo-drives.sh "$scratch")
wine explorer /desktop=tslflash,640x400 "$exe" --emulate "$drives" >"$scratch/tool.log" 2>&1 &
desktop=$(xdotool search --sync --name "tslflash - Wine desktop" | head -1)
# Waits are plain pauses: the pictures inside the wine desktop are no X
# windows that could be waited for.
sleep 4
# The warning box sits in the middle of the desktop; a click on its text makes
# it the active window, then Enter presses OK.
xdotool mousemove --window "$desktop" 320 200 click 1
sleep 1
xdotool key Return
sleep 2
xdotool key Tab Down Tab  # to the tree, the first drive, on to Upgrade
sleep 2
xdotool key space  # Upgrade
sleep 2
xdotool key Return  # the update's confirmation: OK
sleep 15            # the run, with the drive's settle waits (about 5 s natively)
xdotool key Escape  # the restart: not now
sleep 2
# The system menu, opened by a right click on the title bar where it leaves
# the log pane's last line in view.
xdotool mousemove --window "$desktop" 330 10 click 3
sleep 2

import -window root "$scratch/screen.png"
# Cut the dialog out of the desktop: trim the desktop's colour from the right
# and the bottom.
background=$(convert "$scratch/screen.png" -format '%[pixel:p{639,399}]' info:)
convert "$scratch/screen.png" -crop 640x400+0+0 +repage \
  -gravity southeast -background "$background" -splice 1x1 \
  -trim +repage docs/win32-dialog.png
echo "wrote docs/win32-dialog.png"
