#!/usr/bin/env bash
# Builds the Debian packages from a release build for /usr with Debian's
# compiler flags and all of its hardening, and shows each package's control
# fields and files, and what lintian says of them.
# ZORVEX_PACKAGE_DIR picks the build directory (default: build-pkg); the
# packages land in its folder deb/.
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS=2
BUILD_DIR=${ZORVEX_PACKAGE_DIR:-build-pkg}

bash scripts/install-deps.sh

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DZORVEX_BUILD_TESTS=OFF -DZORVEX_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j"$JOBS"
rm -rf "$BUILD_DIR/deb"
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$BUILD_DIR/deb"
rm -rf "$BUILD_DIR/deb/_CPack_Packages"

for deb in "$BUILD_DIR"/deb/*.deb; do
  echo "== $deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done
echo "== lintian"
lintian --tag-display-limit 0 "$BUILD_DIR"/deb/*.deb
echo "Install with: apt-get install $(printf './%s ' "$BUILD_DIR"/deb/*.deb)"
