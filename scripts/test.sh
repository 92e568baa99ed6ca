#!/usr/bin/env bash
# Installs what the build needs, builds, and runs every test: the full suite
# on the normal build, the C++ tests under AddressSanitizer with UBSan, and
# the concurrency tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${VORLANE_SKIP_SANITIZERS:-0}" != 1 ]; then
  BUILD_DIR=build-asan scripts/build.sh -DVORLANE_SANITIZE=address
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'unit|concurrency|slow'

  BUILD_DIR=build-tsan scripts/build.sh -DVORLANE_SANITIZE=thread
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L concurrency
fi
echo "all tests passed"
