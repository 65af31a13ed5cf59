#!/usr/bin/env bash
# AddressSanitizer (with leak checking) over the whole suite, then ThreadSanitizer over the tests
# that run threads. Each in its own build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build-asan -G Ninja -DVELMORA_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/../tools/lsan.supp" ctest --output-on-failure -j "$jobs" --timeout 900)

cmake -S . -B build-tsan -G Ninja -DVELMORA_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-tsan -j "$jobs"
# Qt's own libraries are not built for ThreadSanitizer; the suppressions name only those.
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/../tests/scan/tsan.supp" ctest --output-on-failure -j "$jobs" --timeout 900 -L threads)
