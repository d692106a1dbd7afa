#!/usr/bin/env bash
# Builds the Debian package from a Release build of the product alone (no
# tests, no benchmarks) in build-deb/, with Debian's hardening flags, and
# prints the package's path.
#   tools/make-deb.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
# dpkg-shlibdeps (dpkg-dev) turns the programs' libraries into Depends.
for package in dpkg-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$package"
  }
done

# Release at -O2, as Debian builds its packages: GCC 12 at -O3 reports a
# false -Wrestrict inside libstdc++'s string code, and warnings are errors.
build_dir=build-deb
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DTSLFLASH_BUILD_TESTS=OFF -DTSLFLASH_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls "$PWD/$build_dir"/*.deb
