#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quick when they
# are already there. --windows adds the Windows cross build and wine, --clang
# the second compiler the build types are checked with; --only PACKAGE...
# installs just those (for the scripts that need a tool more); --ci everything
# the CI steps use, in one apt-get run instead of one per step.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  zlib1g-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libxcb1-dev fonts-liberation python3
  libsystemd-dev dbus python3-dbusmock python3-jsonschema libcap2-bin
)
case "${1:-}" in
  --only)
    shift
    packages=("$@")
    ;;
  --windows)
    packages+=(
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
      wine wine64 xvfb xauth
    )
    ;;
  --clang) packages+=(clang) ;;
  --ci)
    packages+=(
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
      wine wine64 xvfb xauth xdotool imagemagick
      clang clang-14 libclang-rt-14-dev
      qemu-system-x86 busybox-static sg3-utils genromfs
      ansible-core lintian desktop-file-utils appstream dpkg-dev
    )
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
