#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test twice: a
# release build and a build under AddressSanitizer and UBSan; then builds the
# libFuzzer targets with clang and runs each briefly.
# ZORVEX_BUILD_DIR picks the build directory (default: build); the sanitizer
# and fuzz builds go to the same name with -asan and -fuzz appended.
# ZORVEX_FUZZ_SECONDS sets how long each fuzz target runs (default 15).
set -euo pipefail

cd "$(dirname "$0")/.."
JOBS=2
BUILD_DIR=${ZORVEX_BUILD_DIR:-build}

bash scripts/install-deps.sh

echo "== release build: $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DZORVEX_WERROR=ON
cmake --build "$BUILD_DIR" -j"$JOBS"
# A failure here still lets the sanitizer run report; the exit status keeps it.
status=0
ctest --test-dir "$BUILD_DIR" -j"$JOBS" --output-on-failure --timeout 300 || status=1

echo "== sanitizer build: $BUILD_DIR-asan"
cmake -S . -B "$BUILD_DIR-asan" -DCMAKE_BUILD_TYPE=Debug -DZORVEX_SANITIZE=ON -DZORVEX_BUILD_BENCH=OFF -DZORVEX_WERROR=ON
cmake --build "$BUILD_DIR-asan" -j"$JOBS"
ctest --test-dir "$BUILD_DIR-asan" -j"$JOBS" --output-on-failure --timeout 300 || status=1

echo "== fuzz build: $BUILD_DIR-fuzz"
cmake -S . -B "$BUILD_DIR-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEX_SANITIZE=ON -DZORVEX_WERROR=ON \
  -DZORVEX_BUILD_FUZZ=ON -DZORVEX_BUILD_TESTS=OFF -DZORVEX_BUILD_BENCH=OFF -DZORVEX_BUILD_WIDGETS=OFF \
  -DZORVEX_FUZZ_SECONDS="${ZORVEX_FUZZ_SECONDS:-15}"
cmake --build "$BUILD_DIR-fuzz" -j"$JOBS"
# One fuzzer at a time: each takes a core, and the machine is shared.
ctest --test-dir "$BUILD_DIR-fuzz" -j1 --output-on-failure --timeout 300 || status=1

if [ "$status" -ne 0 ]; then
  echo "== tests failed"
  exit 1
fi
echo "== all tests passed"
