#!/usr/bin/env bash
# The Windows build: cross-compiled with mingw-w64 and tested under wine, on a
# virtual X display, in a wine prefix made for this run; then the zip for
# Windows users, build-windows/TslFlash-<version>-win64.zip (TslFlash.exe,
# the README, the licence), made by CPack and its listing checked. Fails when
# a test fails or the zip holds anything else.
#
# The tests are built without optimisation: GCC 12 for mingw-w64 miscompiles
# one of GoogleMock's matcher constructors at -O2 (a null reference in
# Matcher<const unsigned char&>), which crashes a test that passes at -O0
# and, natively, at -O2 under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/install-deps.sh --windows

# The sample package is made by the build machine's own tslpkg_bootstrap.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTSLFLASH_WERROR=ON >/dev/null
cmake --build build --target tslpkg_bootstrap -j "$(nproc)"

scratch=$(mktemp -d)
display_number=$((90 + RANDOM % 100))
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all DISPLAY=":$display_number"
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# A new prefix, without the .NET and HTML runtimes (they would ask to be
# downloaded), whose server stays up so that each test starts quickly.
mkdir -p "$WINEPREFIX"
wineserver -p
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1

# The build lists each test executable's cases by running it under wine, so
# the prefix and the display come first.
build_dir=build-windows
# No debug information either: nobody steps through these binaries, and the
# PE linker takes twice as long over it.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DTSLPKG_BOOTSTRAP="$PWD/build/tools/tslpkg_bootstrap" \
  -DTSLFLASH_WERROR=ON
cmake --build "$build_dir" -j "$(nproc)"

ctest --test-dir "$build_dir" --output-on-failure --no-tests=error --timeout 120 -j "$(nproc)"

# The zip ships the executable the tests above ran under wine.
rm -f "$build_dir"/TslFlash-*-win64.zip
(cd "$build_dir" && cpack -G ZIP >/dev/null)
zip_file=$(ls "$build_dir"/TslFlash-*-win64.zip)
python3 - "$zip_file" <<'PYTHON'
import sys
import zipfile
names = sorted(zipfile.ZipFile(sys.argv[1]).namelist())
print("\n".join(names))
expected = ["LICENSE", "README.md", "TslFlash.exe"]
sys.exit(0 if names == expected else f"{sys.argv[1]}: expected {expected}, found {names}")
PYTHON
echo "wrote $zip_file"
