#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test twice: a
# release build and a build under AddressSanitizer and UBSan.
# ZORVEX_BUILD_DIR picks the build directory (default: build); the sanitizer
# build goes to the same name with -asan appended.
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS=2
BUILD_DIR=${ZORVEX_BUILD_DIR:-build}

bash scripts/install-deps.sh

echo "== release build: $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j"$JOBS"
# A failure here still lets the sanitizer run report; the exit status keeps it.
status=0
ctest --test-dir "$BUILD_DIR" -j"$JOBS" --output-on-failure --timeout 300 || status=1

echo "== sanitizer build: $BUILD_DIR-asan"
cmake -S . -B "$BUILD_DIR-asan" -DCMAKE_BUILD_TYPE=Debug -DZORVEX_SANITIZE=ON -DZORVEX_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR-asan" -j"$JOBS"
ctest --test-dir "$BUILD_DIR-asan" -j"$JOBS" --output-on-failure --timeout 300 || status=1

if [ "$status" -ne 0 ]; then
  echo "== tests failed"
  exit 1
fi
echo "== all tests passed"
